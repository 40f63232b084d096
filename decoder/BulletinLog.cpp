#include "BulletinLog.h"

#include "BufrSignalClient.h"
#include "LogStream.h"

#include <cstdio>
#include <cstring>

void BulletinLog::begin()
{
    _kinds.clear();
}

BulletinLog::Kind* BulletinLog::find(const char* kind)
{
    for (Kind& k : _kinds)
        if (k.text == kind || std::strcmp(k.text, kind) == 0)
            return &k;
    return nullptr;
}

bool BulletinLog::admit(const char* source, const char* kind)
{
    Kind* k = find(kind);
    if (!k) {
        _kinds.push_back(Kind{source, kind, 0});
        k = &_kinds.back();
    }
    return ++k->count <= LIMIT;
}

int BulletinLog::count(const char* kind) const
{
    for (const Kind& k : _kinds)
        if (std::strcmp(k.text, kind) == 0)
            return k.count;
    return 0;
}

void BulletinLog::end()
{
    for (const Kind& k : _kinds) {
        if (k.count <= LIMIT)
            continue;
        QEV_LOG(LogStream::PROBLEM, k.source)
            << k.text << " ... and " << k.count - LIMIT << " more for " << bulletinPath() << " ("
            << k.count << " in all)" << std::endl;
    }
    _kinds.clear();
}

int BulletinLog::dropped(const char* source, const TextString& why)
{
    QEV_LOG(LogStream::EVENT, source) << bulletinPath() << ": " << why << std::endl;
    return 0;
}

TextString BulletinLog::descriptorText(int descriptor)
{
    char text[16];
    std::snprintf(text, sizeof text, "%d %02d %03d", descriptor / 100000 % 10,
                  descriptor / 1000 % 100, descriptor % 1000);
    return text;
}

TextString BulletinLog::bulletinPath()
{
    return BufrSignalClient::instance()->sourcePath();
}
