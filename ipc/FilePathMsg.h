// Module 17, type 0: a notice about one file path.
#ifndef FILEPATHMSG_H
#define FILEPATHMSG_H

#include "ArgPkg1.h"
#include "IpcModule.h"
#include "ParameterizedMsg.h"
#include "TextString.h"

class FilePathMsg : public ParameterizedMsg {
public:
    enum { TYPE = 0 };
    typedef ArgPkg1<TextString> Args;  // the path

    explicit FilePathMsg(const TextString& path) : ParameterizedMsg(new Args(path), TYPE, FAC_MODULE)
    {
    }
};

#endif
