#include "DM_DataAccessInfoDict.h"

#include "DM_DataAccessInfo.h"
#include "LogStream.h"
#include "splitFields.h"

#include <cfloat>
#include <cstdlib>
#include <cstring>

namespace {

const int FIELD_COUNT = 11;
const int MAX_MEMBERS = 250;
const float MISSING = 1e37f;

int readInt(const char* text) { return static_cast<int>(strtol(text, nullptr, 0)); }

// strtod as a float, clamped to the float range (a NaN stays a NaN).
float readFloat(const char* text)
{
    double v = strtod(text, nullptr);
    if (v > FLT_MAX)
        return FLT_MAX;
    if (v < -FLT_MAX)
        return -FLT_MAX;
    return static_cast<float>(v);
}

// The text after the first comma, or null.
const char* afterComma(const char* text)
{
    const char* comma = strchr(text, ',');
    return comma ? comma + 1 : nullptr;
}

int kindOf(const char* text)
{
    if (strchr(text, 'V'))
        return 0;
    if (strchr(text, 'D'))
        return 1;
    if (strchr(text, 'F'))
        return 2;
    return readInt(text);
}

bool isListKind(const char* text)
{
    return strchr(text, 'V') || strchr(text, 'D') || strchr(text, 'F');
}

// A member key: "y" and base-32 digits, "+" or "-" and a base-32 offset from
// the record's own key, else an unsigned number in base 0; 32 bits wide.
unsigned long memberKey(const char* text, unsigned long ownKey)
{
    unsigned long key;
    if (text[0] == 'y')
        key = strtoul(text + 1, nullptr, 32);
    else if (text[0] == '+')
        key = ownKey + strtoul(text + 1, nullptr, 32);
    else if (text[0] == '-')
        key = ownKey - strtoul(text + 1, nullptr, 32);
    else
        key = strtoul(text, nullptr, 0);
    return key & 0xFFFFFFFFul;
}

// The member list of a list kind: "p<value>" entries give the value of the
// position, paired with the entry after them as its key; entries with a "."
// are values without key; any other entry is a key.
void parseMembers(char* text, unsigned long ownKey, SeqOf<unsigned long>& keys,
                  SeqOf<float>& values)
{
    keys.setLength(0);
    values.setLength(0);
    if (*text == '\0')
        return;
    char* entries[MAX_MEMBERS];
    int n = splitFields(text, entries, MAX_MEMBERS, ',');
    unsigned long current = 1;
    int lastValue = -1;
    for (int i = 0; i < n; ++i) {
        const char* e = entries[i];
        int position = keys.length();
        if (e[0] == 'p') {
            float value = readFloat(e + 1);
            if (i + 1 < n) {
                const char* k = entries[++i];
                if (k[0] != 'p')
                    current = memberKey(k, ownKey);
            }
            keys.append(current);
            values.setLength(position + 1);
            values[position] = value;
            lastValue = position;
        } else if (strchr(e, '.')) {
            keys.append(0);
            values.setLength(position + 1);
            values[position] = readFloat(e);
            lastValue = position;
        } else {
            current = memberKey(e, ownKey);
            keys.append(current);
            values.setLength(position + 1);
            values[position] = MISSING;
        }
    }
    values.setLength(lastValue + 1);
}

} // namespace

void* DM_DataAccessInfoDict::parseLine(unsigned long key, char* line)
{
    char* f[FIELD_COUNT];
    int n = splitFields(line, f, FIELD_COUNT, '|');
    if (n < FIELD_COUNT) {
        QEV_LOG(LogStream::PROBLEM, "DM_DataAccessInfo")
            << "Too few fields for key: " << key << " Num fields: " << n << std::endl;
        return nullptr;
    }
    DM_DataAccessInfo* r = new DM_DataAccessInfo();
    r->_key = key;
    r->_name = f[1];
    r->_kind = kindOf(f[2]);
    r->_period = readInt(f[3]);
    r->_periodValue = readFloat(f[3]);
    r->_param4 = readInt(f[4]);
    r->_param4Value = readFloat(f[4]);
    const char* second = afterComma(f[4]);
    r->_param4Second = second ? readFloat(second) : 0.0f;
    r->_param5 = readInt(f[5]);
    r->_param5Value = readFloat(f[5]);
    second = afterComma(f[5]);
    r->_param5Second = second ? readFloat(second) : 0.0f;
    r->_interval = readInt(f[6]);
    second = afterComma(f[6]);
    r->_offset = second ? readInt(second) : 0;
    r->_keyName = f[10];
    if (isListKind(f[2])) {
        parseMembers(f[7], key, r->_keyList, r->_valueList);
    } else {
        r->_directory = f[7];
        r->_filePrefix = f[8];
        r->_fileSuffix = f[9];
    }
    return r;
}

void DM_DataAccessInfoDict::deleteRecord(void* record)
{
    delete static_cast<DM_DataAccessInfo*>(record);
}
