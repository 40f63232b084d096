// FAC_Client: an object that wants to hear of notices about one file path
// (module 17); it registers with FAC_Receiver for the path.
#ifndef FAC_CLIENT_H
#define FAC_CLIENT_H

class TextString;

class FAC_Client {
public:
    virtual void pathNotice(const TextString& path) = 0;

protected:
    ~FAC_Client() {}
};

#endif
