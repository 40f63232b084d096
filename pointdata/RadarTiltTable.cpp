#include "RadarTiltTable.h"

#include <cstdio>

namespace {

const float LOWEST = -0.9f;
const float HIGHEST = 90.0f;
const int MIN_LINES = 11;

} // namespace

RadarTiltTable::RadarTiltTable()
{
    for (int i = FIRST_INDEX; i <= LAST_INDEX; ++i)
        _angles[i - FIRST_INDEX] = static_cast<float>(i * 0.1);
}

RadarTiltTable* RadarTiltTable::fromLines(const SeqOf<TextString>& lines)
{
    if (lines.length() < MIN_LINES)
        return nullptr;
    RadarTiltTable* table = new RadarTiltTable();
    for (int i = 0; i < lines.length(); ++i) {
        float angle, lowest, highest;
        if (sscanf(lines[i].c_str(), "%f %f %f", &angle, &lowest, &highest) == 3)
            table->addGroup(angle, lowest, highest);
    }
    return table;
}

void RadarTiltTable::addGroup(float angle, float lowest, float highest)
{
    if (!(lowest >= LOWEST && highest <= HIGHEST && lowest <= angle && angle <= highest))
        return;
    int first = indexOf(lowest);
    if (first < FIRST_INDEX)
        first = FIRST_INDEX;
    float bound = highest * 10 + 0.5f;
    float written = angle;
    if (first <= 0 && bound >= 0)
        written = 0.0f;
    for (int i = first; i < bound && i <= LAST_INDEX; ++i)
        _angles[i - FIRST_INDEX] = written;
}

bool RadarTiltTable::covers(float elevation)
{
    return elevation >= LOWEST && elevation <= HIGHEST;
}

float RadarTiltTable::groupAngle(float elevation) const
{
    int i = indexOf(elevation);
    if (i < FIRST_INDEX)
        i = FIRST_INDEX;
    else if (i > LAST_INDEX)
        i = LAST_INDEX;
    return entry(i);
}

int RadarTiltTable::indexOf(float degrees)
{
    float tenths = degrees * 10;
    return tenths < 0 ? -static_cast<int>(0.5f - tenths) : static_cast<int>(tenths + 0.5f);
}
