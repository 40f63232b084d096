// The sample makers of every data type: its data type key (as the decoder
// program names it), the class of its decoder and the function that makes
// its bulletins.  make_sample_bulletins and the fuzz seeds take them from
// here; a data type joins with one line.
#ifndef SAMPLEMAKERS_H
#define SAMPLEMAKERS_H

#include "AcarsSamples.h"
#include "HighDensityWindSamples.h"
#include "ModelSoundingSamples.h"
#include "ProfilerSamples.h"
#include "QuikScatSamples.h"
#include "SampleBulletin.h"
#include "SatelliteSoundingSamples.h"

#include <string>
#include <vector>

struct SampleMaker {
    typedef bool (*Make)(const SampleOptions&, std::vector<SampleBulletin>&, std::string&);
    const char* type;
    const char* decoder;
    Make make;
};

inline const std::vector<SampleMaker>& sampleMakers()
{
    static const std::vector<SampleMaker> makers = {
        {"model", "ModelBufrDecoder", ModelSoundingSamples::make},
        {"poes", "POESBufrDecoder", SatelliteSoundingSamples::makePOES},
        {"goes", "GOESBufrDecoder", SatelliteSoundingSamples::makeGOES},
        {"acars", "AcarsBufrDecoder", AcarsSamples::make},
        {"csw", "HDWBufrDecoder", HighDensityWindSamples::make},
        {"quikscat", "QuikScatBufrDecoder", QuikScatSamples::make},
        {"prof", "ProfBufrDecoder", ProfilerSamples::make},
    };
    return makers;
}

#endif
