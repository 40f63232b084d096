#include "dmDataPaths.h"

#include "DM_DataAccessInfo.h"
#include "InfoFileServer.h"
#include "LogStream.h"
#include "LogText.h"
#include "dmFileTimes.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

// The static time of a product kept as one file.
const AbsTime STATIC_TIME(1);

// Whether the constructor found the key; logs when it did not.
bool known(const DM_DataAccessInfo& info)
{
    if (info.key() != 0)
        return true;
    QEV_LOG(LogStream::PROBLEM, "dmDataAccessFns") << "Error in DM_DataAccessInfo constructor"
                                                   << std::endl;
    return false;
}

bool hasStaticFile(const DM_DataAccessInfo& info)
{
    return info.filePrefix().length() > 0 && info.fileSuffix().length() > 0;
}

} // namespace

bool dmDataRoot(TextString& root)
{
    const char* data = getenv("QEV_DATA");
    if (!data || !*data) {
        QEV_LOG(LogStream::PROBLEM, "dmDataAccessFns") << "Env var QEV_DATA not defined"
                                                       << std::endl;
        return false;
    }
    root = data;
    return true;
}

bool dmDataDirectoryOf(const DM_DataAccessInfo& info, TextString& directory)
{
    TextString root;
    if (!dmDataRoot(root))
        return false;
    directory = root + "/" + info.directory();
    return true;
}

TextString dmMakeTemplateFileName(const TextString& directory, const TextString& prefix,
                                  const TextString& suffix, int number)
{
    TextString name = directory;
    name += "/";
    name += prefix;
    name += "template";
    if (number >= 0) {
        char digits[8];
        snprintf(digits, sizeof digits, "%2.2d", number % 100);
        name += digits;
    }
    name += suffix;
    return name;
}

TextString dmTemplateFileName(DataAccessKey key, int number)
{
    DM_DataAccessInfo info(key);
    TextString directory;
    if (!known(info) || !dmDataDirectoryOf(info, directory))
        return TextString();
    return dmMakeTemplateFileName(directory, info.filePrefix(), info.fileSuffix(), number);
}

TextString dmDataDirectory(DataAccessKey key)
{
    DM_DataAccessInfo info(key);
    TextString directory;
    if (!known(info) || !dmDataDirectoryOf(info, directory))
        return TextString();
    return directory;
}

TextString dmDataFileName(DataAccessKey key, AbsTime time, bool staticFile)
{
    DM_DataAccessInfo info(key);
    if (!known(info))
        return TextString();
    if (staticFile && hasStaticFile(info)) {
        TextString name = info.staticPath();
        if (InfoFileServer::exists(name))
            return InfoFileServer::lastPath();
        QEV_LOG(LogStream::PROBLEM, "dmDataAccessFns")
            << "Could not find static file " << LogText(name) << std::endl;
        return TextString();
    }
    TextString directory;
    if (!dmDataDirectoryOf(info, directory))
        return TextString();
    return dmMakeTimeFileName(directory, time, info.filePrefix(), info.fileSuffix());
}

SeqOf<AbsTime>* dmKeyFileTimes(DataAccessKey key, bool staticFile)
{
    DM_DataAccessInfo info(key);
    if (!known(info))
        return nullptr;
    if (staticFile && hasStaticFile(info))
        return new SeqOf<AbsTime>(STATIC_TIME);
    TextString directory;
    if (!dmDataDirectoryOf(info, directory))
        return nullptr;
    return dmFileTimes(directory, info.filePrefix(), info.fileSuffix());
}

void dmKeyFileTimes(DataAccessKey key, bool staticFile, Set<AbsTime>& times)
{
    std::unique_ptr<SeqOf<AbsTime>> found(dmKeyFileTimes(key, staticFile));
    if (!found)
        return;
    for (int i = 0; i < found->length(); ++i)
        times.insert((*found)[i]);
}
