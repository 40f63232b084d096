// The model decoder's construction, configuration, file-name check and
// forecast times.  Its profiles are in ModelBufrDecoderProfiles.cpp, its
// storing in ModelBufrDecoderStore.cpp.
#include "ModelBufrDecoder.h"

#include "AbsTime.h"
#include "BulletinLog.h"
#include "ElementForms.h"
#include "InfoFileServer.h"
#include "LogStream.h"
#include "LogText.h"
#include "NetcdfPointData.h"
#include "StaticBufrInfo.h"
#include "StoreTemplate.h"
#include "StringTokenizer.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iomanip>
#include <sstream>
#include <vector>

#define MODEL_LOG(category) QEV_LOG(LogStream::category, "ModelBufrDecoder")

namespace {

const char* const STATION_TABLE = "modelBufrStationInfo.txt";
const char* const TIME_FORMAT = "%h %d %y %T GMT";
const char* const MODEL_NAMES[ModelBufrDecoder::NUM_MODELS] = {"ETA", "RUC", "AVN", "NGM"};

// A number of seconds as a line tells it: whole ones as such.
TextString secondsText(double seconds)
{
    std::ostringstream text;
    text << std::setprecision(15) << seconds;
    return text.str().c_str();
}

// A table field without its line ending (CR, LF) and trailing blanks.
void stripLineEnd(TextString& text)
{
    int n = text.length();
    while (n > 0 && (text.c_str()[n - 1] == '\n' || text.c_str()[n - 1] == '\r' ||
                     text.c_str()[n - 1] == ' '))
        --n;
    if (n < text.length())
        text = text.subString(0, n);
}

} // namespace

const char* const ModelBufrDecoder::PROFILE_NAMES[NUM_PROFILES] = {
    "PRESSURE",     "TEMPERATURE",  "UWIND",         "VWIND",       "SPECHUMIDITY",
    "OMEGA",        "CLDH2OMIXRAT", "CONVLATHEAT",   "STABLATHEAT", "SWHEATRATE",
    "LWHEATRATE",   "LYRCLDCVR",    "TURBKINENERGY", "ICEMIXRATIO", "LYRSOILMOIST",
    "LYRSOILTEMP"};

const float ModelBufrDecoder::PROFILE_FILL = 1e37f;

BufrFileDecoder::Record ModelBufrDecoder::modelRecord()
{
    Record r;
    r.sourceName = "ModelBufrDecoder";
    r.ingestPath = "/ispan/bufr/modelSoundings/NAM";
    r.badPath = "/ispan/badModelBufr";
    r.listingPattern = "JUS.*";
    r.sortedListing = true;
    r.statFailureText = " stat() failure on file ";
    r.rejectionText = " is not a model BUFR file.";
    r.readingTrace = " modelBufrData.......";
    r.logInputFileName = true;
    r.storedText = "Writing record to netcdf file: ";
    r.failedWriteReason = "Unable to write netcdf data.";
    return r;
}

ModelBufrDecoder::Model ModelBufrDecoder::modelOfDigit(char digit)
{
    return digit >= '4' && digit <= '7' ? static_cast<Model>(digit - '4') : NUM_MODELS;
}

const char* ModelBufrDecoder::modelName(Model model)
{
    return model >= ETA && model < NUM_MODELS ? MODEL_NAMES[model] : "";
}

namespace {

// The lines of the model decoder's writes.
const RecordWriter::Rules MODEL_WRITES = {
    "ModelBufrDecoder",
    "Unable to write %n at record %r: %e",
    "Unable to write %n at record %r: %e",
    "Unable to write %n at record %r: %e",
    "Unable to write text variable %v at record %r: %e",
    "Unable to read the text width of variable %v: %e",
    nullptr,
    "Unable to write %n at record %r: %e",
    nullptr,
    false,
    false,
};

} // namespace

ModelBufrDecoder::ModelBufrDecoder() : BufrFileDecoder(modelRecord()), _writer(MODEL_WRITES)
{
    const TextString root = TextString(std::getenv("QEV_DATA")) + "/point/model";
    if (!readStationTable()) {
        MODEL_LOG(PROBLEM) << "Unable to initialize station list table for decoding."
                           << "  Can't decode files." << std::endl;
        return;
    }
    _stationsLoaded = true;
    for (int m = ETA; m < NUM_MODELS; ++m)
        _outputs[m].directory = root + "/" + MODEL_NAMES[m] + "/netcdf";
    for (Model m : {AVN, ETA, RUC, NGM})
        _outputs[m].store = NetcdfPointData::getNetcdfPointData(_outputs[m].directory, true, false);
    for (ModelOutput& output : _outputs)
        readOutputTemplate(output);
    if (readProfileDescTable())
        _dataTypeName = "Model Soundings";
    else
        MODEL_LOG(PROBLEM) << "Unable to create descriptor dictionary for model soundings."
                           << std::endl;
    for (ModelOutput& output : _outputs)
        resolveProfileVariables(output);
}

// Runs at process exit, after the point-data files were closed: members
// only, no log line and no netCDF call.
ModelBufrDecoder::~ModelBufrDecoder() {}

void ModelBufrDecoder::readOutputTemplate(ModelOutput& output)
{
    StoreTemplate t =
        StoreTemplate::read(output.directory + "/template", {"maxProfLvls", "maxSoilLvls"});
    output.templateDict = t.names;
    output.names.clear();
    int* limits[2] = {&output.maxProfLvls, &output.maxSoilLvls};
    for (int k = 0; k < 2; ++k)
        *limits[k] = INT_MAX;
    for (int k = 0; k < 2; ++k)
        if (t.lengths[k] >= 0 && t.lengths[k] < INT_MAX)
            *limits[k] = static_cast<int>(t.lengths[k]);
    resolveProfileVariables(output);
}

TextString ModelBufrDecoder::getPatternFileName() const
{
    static const TextString name("modelBufrPattern.txt");
    return name;
}

bool ModelBufrDecoder::readStationTable()
{
    FILE* file = InfoFileServer::openFile(STATION_TABLE);
    if (!file) {
        MODEL_LOG(PROBLEM) << "Unable to get station list from " << STATION_TABLE
                           << ".  Can't open file." << std::endl;
        return false;
    }
    return readBarTable(file, STATION_TABLE, 119, &ModelBufrDecoder::addStation);
}

bool ModelBufrDecoder::readProfileDescTable()
{
    const TextString path = TextString(std::getenv("QEV_HOME")) + "/data/modelProfDescTable.txt";
    FILE* file = std::fopen(path.c_str(), "r");
    if (!file) {
        const int error = errno;
        MODEL_LOG(PROBLEM) << "Unable to get sounding profile descriptor variable list from "
                           << path << ": " << std::strerror(error) << std::endl;
        return false;
    }
    return readBarTable(file, path, 99, &ModelBufrDecoder::addProfileDescriptor);
}

bool ModelBufrDecoder::readBarTable(FILE* file, const TextString& name, int lineLimit,
                                    void (ModelBufrDecoder::*entry)(int, const TextString&))
{
    std::vector<char> buffer(lineLimit + 1, '\0');
    bool ok = true;
    while (std::fgets(buffer.data(), lineLimit + 1, file)) {
        TextString line(buffer.data());
        buffer.assign(buffer.size(), '\0');
        if (line.c_str()[0] == '#')
            continue;
        stripLineEnd(line);
        StringTokenizer fields(line, "|", false);
        const TextString first = fields.nextToken();
        TextString second = fields.nextToken();
        stripLineEnd(second);
        if (second.length() == 0) {
            MODEL_LOG(PROBLEM) << "Line corrupted in " << name << " [" << line << "]"
                               << std::endl;
            ok = false;
            break;
        }
        (this->*entry)(std::atoi(first.c_str()), second);
    }
    std::fclose(file);
    return ok;
}

void ModelBufrDecoder::addStation(int, const TextString& id)
{
    _localStations.insert(id);
}

void ModelBufrDecoder::addProfileDescriptor(int descriptor, const TextString& name)
{
    _profileDescriptors.insert(descriptor, name);
}

bool ModelBufrDecoder::checkFileName(const TextString& name)
{
    // Each file names its own model; nothing is left from an earlier file.
    _modelName = TextString();
    _otherKindLogged = TextString();
    const bool accepted = BufrFileDecoder::checkFileName(name);
    // A prefix without designators is accepted without the digit check: the
    // model is still the file's own, or none (and the file is not stored).
    if (accepted && _modelName.length() == 0 && name.length() > 4)
        _modelName = modelName(modelOfDigit(name.c_str()[4]));
    return accepted;
}

bool ModelBufrDecoder::checkDesignator(const TextString& designator)
{
    const char digit = designator.length() > 0 ? designator.c_str()[0] : '\0';
    const Model model = modelOfDigit(digit);
    if (model == NUM_MODELS) {
        MODEL_LOG(PROBLEM) << "Unknown WMO model designator: "
                           << (digit >= '0' && digit <= '9' ? digit - '0' : 0) << std::endl;
        return false;
    }
    _modelName = MODEL_NAMES[model];
    return true;
}

ModelBufrDecoder::Model ModelBufrDecoder::currentModel() const
{
    for (int m = ETA; m < NUM_MODELS; ++m)
        if (_modelName == MODEL_NAMES[m])
            return static_cast<Model>(m);
    return NUM_MODELS;
}

SeqOf<AbsTime> ModelBufrDecoder::computeTimes(SeqOf<double>& offsets, SeqOf<TextString>* unheld)
{
    SeqOf<AbsTime> times;
    if (unheld)
        unheld->setLength(0);
    for (int i = 0; i < _decodedValues.length(); ++i) {
        BufrValues& value = _decodedValues[i];
        if (value.getDescriptor() != FORECAST_TIME)
            continue;
        MODEL_LOG(DEBUG) << "_obTime: " << _obTime.toString(TIME_FORMAT)
                         << " time offset (secs): " << value.getValue() << std::endl;
        const double seconds = value.getValue();
        // A forecast time that is missing, or that makes a time the store
        // cannot hold (an operator may widen or scale the element), gives
        // its sounding no time (0, never one saturated at a limit).
        TextString why;
        int64_t valid = 0;
        if (!ElementForms::given(seconds)) {
            why = "its forecast time (0 04 194) is missing";
        } else {
            const bool inRange = seconds > INT32_MIN - 1.0 && seconds < INT32_MAX + 1.0;
            valid = inRange ? int64_t(_obTime.seconds()) + static_cast<int32_t>(seconds)
                            : seconds > 0 ? int64_t(INT32_MAX) + 1 : -1;
            if (valid > INT32_MAX || valid < 0)
                why = "its forecast time, " + secondsText(seconds) + " s after the run, " +
                      (valid < 0 ? BulletinLog::BEFORE_FIRST : BulletinLog::PAST_LIMIT);
        }
        if (unheld)
            unheld->append(why);
        const AbsTime forecast(static_cast<int32_t>(why.length() > 0 ? 0 : valid));
        MODEL_LOG(DEBUG) << "fcstTime: " << forecast.toString(TIME_FORMAT) << std::endl;
        times.append(forecast);
        offsets.append(why.length() > 0 ? 0.0 : seconds);
        value.setCharValue("Time");
    }
    const SeqOf<AbsTime>& found = times;
    for (int k = 0; k < found.length(); ++k)
        MODEL_LOG(VERBOSE) << "TimeIds[" << k << "]: " << found[k].toString(TIME_FORMAT)
                           << " for station " << LogText(_stationId) << std::endl;
    return times;
}
