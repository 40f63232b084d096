// The model decoder's profiles: the values of each station gathered into one
// array per profile, so that the storing step writes each profile of a
// station with one array write.
//
// A station is one data subset; the subsets come as contiguous groups in
// increasing order, so entry s of a profile list is the profile of subset s.
// The k-th value of a profile within a station is its level k.
#include "ModelBufrDecoder.h"

void ModelBufrDecoder::clearLevelCounts()
{
    for (int& count : _levelCounts)
        count = 0;
}

int ModelBufrDecoder::profileIndex(const TextString& name)
{
    for (int p = 0; p < NUM_PROFILES; ++p)
        if (name == PROFILE_NAMES[p])
            return p;
    return -1;
}

int ModelBufrDecoder::levelIndex(int valueIndex) const
{
    return valueIndex >= 0 && valueIndex < _levelIndexes.length() ? _levelIndexes[valueIndex] : 0;
}

// Every level of a new station starts empty, so that no level of one station
// reaches another's record.
void ModelBufrDecoder::presetStationProfiles()
{
    for (int p = 0; p < NUM_PROFILES; ++p) {
        SeqOf<float>& profile = _stationProfiles[p];
        profile.setLength(p < NUM_ATMOSPHERIC_PROFILES ? _numProfLvls : _numSoilLvls);
        for (int level = 0; level < profile.length(); ++level)
            profile[level] = PROFILE_FILL;
    }
}

void ModelBufrDecoder::appendStationProfiles()
{
    for (int p = 0; p < NUM_PROFILES; ++p)
        _profileLists[p].append(_stationProfiles[p]);
}

bool ModelBufrDecoder::preProcess()
{
    const int n = _decodedValues.length();
    _levelIndexes.setLength(n);
    for (int i = 0; i < n; ++i)
        _levelIndexes[i] = 0;
    clearLevelCounts();
    presetStationProfiles();
    if (n == 0)
        return true;

    bool ok = true;
    int subset = _decodedValues[0].getSubset();
    for (int i = 0; i < n && ok; ++i) {
        BufrValues& value = _decodedValues[i];
        if (value.getSubset() != subset) {
            appendStationProfiles();
            subset = value.getSubset();
            clearLevelCounts();
            presetStationProfiles();
        }
        TextString name;
        if (!_profileDescriptors.find(value.getDescriptor(), nullptr, &name))
            continue;
        value.setCharValue(name);
        const int p = profileIndex(name);
        if (p < 0)
            continue;
        const int limit = p < NUM_ATMOSPHERIC_PROFILES ? _numProfLvls : _numSoilLvls;
        if (_levelCounts[p] >= limit) {
            ok = false;
            break;
        }
        _stationProfiles[p][_levelCounts[p]] = value.getValue();
        _levelIndexes[i] = _levelCounts[p]++;
    }
    appendStationProfiles();
    return ok;
}

void ModelBufrDecoder::collectProfiles(int valueIndex, SeqOf<float>& profile) const
{
    profile = SeqOf<float>();
    if (valueIndex < 0 || valueIndex >= _decodedValues.length())
        return;
    const BufrValues& value = _decodedValues[valueIndex];
    TextString name;
    if (!_profileDescriptors.find(value.getDescriptor(), nullptr, &name))
        return;
    const int p = profileIndex(name);
    // A subset without a gathered profile gets none, never another
    // station's.
    if (p < 0 || value.getSubset() < 0 || value.getSubset() >= _profileLists[p].length())
        return;
    profile = _profileLists[p][value.getSubset()];
}

void ModelBufrDecoder::clearProfileLists()
{
    for (SeqOf<SeqOf<float> >& list : _profileLists)
        list.setLength(0);
}
