#include "windKinds.h"

#include "BulletinLog.h"

#include <string>

namespace {

// The data categories of WMO's table A, by number.
const char* categoryName(int category)
{
    static const char* const names[32] = {
        "surface data, land",
        "surface data, sea",
        "vertical soundings other than satellite",
        "vertical soundings, satellite",
        "single level upper-air data other than satellite: aircraft",
        "single level upper-air data, satellite: satellite winds",
        "radar data",
        "synoptic features",
        "physical and chemical constituents",
        "dispersal and transport",
        "radiological data",
        "BUFR tables",
        "surface data, satellite: scatterometer winds",
        "forecasts",
        "warnings",
        nullptr, nullptr, nullptr, nullptr, nullptr,
        "status information",
        "radiances, satellite",
        "radar, satellite",
        "lidar, satellite",
        "scatterometry, satellite",
        "altimetry, satellite",
        "spectrometry, satellite",
        "gravity measurement, satellite",
        "precision orbit, satellite",
        "space environment, satellite",
        "calibration datasets, satellite",
        "oceanographic data",
    };
    if (category >= 0 && category < 32)
        return names[category];
    return category == 101 ? "image data, satellite" : nullptr;
}

} // namespace

TextString dataCategoryText(int category)
{
    const char* name = categoryName(category);
    TextString text = "data category " + TextString(std::to_string(category).c_str());
    return name ? text + " (" + name + ")" : text;
}

TextString notOfKind(const MessageKind& kind, int category, const SeqOf<BufrValues>& values)
{
    bool ours = false;
    TextString theirs;
    for (int c : kind.categories) {
        if (c < 0)
            continue;
        ours = ours || c == category;
        theirs += TextString(theirs.length() > 0 ? " or " : "") + std::to_string(c).c_str();
    }
    if (!ours && categoryName(category))
        return TextString("Not ") + kind.what + ": the message is of " +
               dataCategoryText(category) + ", " + kind.what + " are of data category " +
               theirs + ".";
    TextString lacks;
    for (const MessageKind::Needed& need : kind.needs) {
        if (!need.name)
            continue;
        bool given = false;
        TextString elements;
        for (int k = 0; k < 4 && need.descriptors[k] != 0; ++k)
            elements += TextString(k > 0 ? " or " : "") +
                        BulletinLog::descriptorText(need.descriptors[k]);
        for (int i = 0; i < values.length() && !given; ++i)
            for (int k = 0; k < 4 && need.descriptors[k] != 0 && !given; ++k)
                given = values[i].getDescriptor() == need.descriptors[k];
        if (!given)
            lacks += TextString(lacks.length() > 0 ? " and no " : "no ") + need.name + " (" +
                     elements + ")";
    }
    if (lacks.length() == 0)
        return TextString();
    return TextString("Not ") + kind.what + ": the reports of the message, of " +
           dataCategoryText(category) + ", give " + lacks + ".";
}
