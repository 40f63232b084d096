#include "StoreTemplate.h"

#include "LogStream.h"
#include "NetcdfIo.h"
#include "StringTokenizer.h"

StoreTemplate StoreTemplate::read(const TextString& path,
                                  std::initializer_list<const char*> dimensions)
{
    StoreTemplate t;
    t.lengths.assign(dimensions.size(), -1);
    int status = NC_NOERR;
    NcFile* file = NetcdfIo::openFile(path, false, &status);
    if (!file) {
        QEV_LOG(LogStream::PROBLEM, "BufrDecoder")
            << "Unable to open " << path << ", " << nc_strerror(status) << std::endl;
        return t;
    }
    const NetcdfIo io(NetcdfIo::fileId(file));
    int nDims = 0, nVars = 0, nAtts = 0, recordDim = -1;
    io.inquire(nDims, nVars, nAtts, recordDim);
    for (int var = 0; var < nVars; ++var) {
        NetcdfIo::VarInfo info;
        TextString text;
        if (!io.varInfo(var, info) || !io.varTextAttribute(var, "tblBname", text))
            continue;
        // The line of the decoders' other template reading.
        QEV_LOG(LogStream::EVENT, "BufrDecoder")
            << "BufrDecoder::getTokens()" << text << std::endl;
        StringTokenizer tokens(text, "|", false);
        for (TextString name = tokens.nextToken(); name.length() > 0; name = tokens.nextToken()) {
            name.stripTrailingBlanks();
            if (name.length() > 0)
                t.names.insert(name, info.name);
        }
    }
    size_t k = 0;
    for (const char* dimension : dimensions)
        t.lengths[k++] = io.dimLength(io.dimId(dimension));
    NetcdfIo::deleteFile(file);
    return t;
}
