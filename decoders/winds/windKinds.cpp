#include "windKinds.h"

#include "BulletinLog.h"

#include <algorithm>
#include <string>
#include <vector>

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
        std::vector<int> descriptors;
        if (need.descriptor != 0)
            descriptors.push_back(need.descriptor);
        else
            for (const ElementForms::Form* f : ElementForms::forms(need.quantity))
                descriptors.push_back(f->descriptor);
        bool given = false;
        TextString elements;
        for (size_t k = 0; k < descriptors.size(); ++k)
            elements +=
                TextString(k > 0 ? " or " : "") + BulletinLog::descriptorText(descriptors[k]);
        for (int i = 0; i < values.length() && !given; ++i)
            given = std::find(descriptors.begin(), descriptors.end(), values[i].getDescriptor()) !=
                    descriptors.end();
        if (!given)
            lacks += TextString(lacks.length() > 0 ? " and no " : "no ") + need.name + " (" +
                     elements + ")";
    }
    if (lacks.length() == 0)
        return TextString();
    return TextString("Not ") + kind.what + ": the reports of the message, of " +
           dataCategoryText(category) + ", give " + lacks + ".";
}
