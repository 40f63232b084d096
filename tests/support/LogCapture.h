// The log lines a test causes: while the object lives, standard error (where
// the log stream writes its terminal sink and its own warnings) goes to a
// temporary file, so a test can assert exact texts.  The previous standard
// error comes back at destruction; when the running test has failed, the
// captured text is then written to it, so a failure shows its log.  Captures
// nest: an inner one takes over until it goes.
//
//     LogCapture log;
//     QEV_LOG(LogStream::PROBLEM, "SeqOf") << "bad index" << std::endl;
//     EXPECT_EQ(log.lines(), std::vector<std::string>{"PROBLEM: bad index"});
//     EXPECT_TRUE(log.contains("bad index"));
#ifndef LOGCAPTURE_H
#define LOGCAPTURE_H

#include <string>
#include <vector>

class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // Everything written to standard error since construction (or clear).
    std::string text() const;
    // The same as lines, without their newlines; a last line without a
    // newline counts as a line.
    std::vector<std::string> lines() const;
    // Whether any captured text contains the given text.
    bool contains(const std::string& part) const;
    // How many lines contain the given text.
    int count(const std::string& part) const;
    // Forgets what was captured so far.
    void clear();

private:
    std::string _path;
    int _savedFd;
    int _captureFd;
};

#endif
