#include "tools/convert/Options.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <functional>
#include <map>

namespace convert {

namespace {

constexpr std::array kMp3BitRates = {8,  16,  24,  32,  40,  48,  56,  64,  80,
                                     96, 112, 128, 144, 160, 192, 224, 256, 320};
constexpr int kMinRate = 8000;
constexpr int kMaxRate = 96000;
constexpr int kMaxJobs = 256;

struct Failure {
    std::string message;
};

// Plain decimal digits only: "44100" yes, "44.1k", "+5" or "0x10" no.
int number(const std::string& option, const std::string& text, int min, int max) {
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || text[0] == '-' || text[0] == '+' || ec != std::errc() || ptr != end)
        throw Failure{option + " needs a whole number, not \"" + text + "\""};
    if (value < min || value > max)
        throw Failure{option + " must be between " + std::to_string(min) + " and " +
                      std::to_string(max) + ", not " + text};
    return value;
}

int bitRate(const std::string& option, const std::string& text) {
    const int kbps = number(option, text, 1, 1000);
    if (!isMp3BitRate(kbps))
        throw Failure{option + ": " + text +
                      " kb/s is no MP3 bit rate (8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, "
                      "144, 160, 192, 224, 256 or 320)"};
    return kbps;
}

int oneOf(const std::string& option, const std::string& text,
          const std::vector<std::string>& names) {
    const auto found = std::find(names.begin(), names.end(), text);
    if (found == names.end()) {
        std::string list;
        for (const std::string& name : names)
            list += (list.empty() ? "" : "|") + name;
        throw Failure{option + " must be " + list + ", not \"" + text + "\""};
    }
    return static_cast<int>(found - names.begin());
}

using ValueHandler = std::function<void(Options&, const std::string& option, const std::string&)>;
using FlagHandler = std::function<void(Options&)>;

const std::map<std::string, ValueHandler>& valueOptions() {
    static const std::map<std::string, ValueHandler> options = {
        {"-o", [](Options& o, auto&, auto& v) { o.output = v; }},
        {"--output", [](Options& o, auto&, auto& v) { o.output = v; }},
        {"--output-dir", [](Options& o, auto&, auto& v) { o.outputDir = v; }},
        {"--format",
         [](Options& o, auto& name, auto& v) {
             o.format = oneOf(name, v, {"wav", "mp3"}) == 0 ? OutputType::Wav : OutputType::Mp3;
         }},
        {"--settings", [](Options& o, auto&, auto& v) { o.settingsFile = v; }},
        {"--rate", [](Options& o, auto& name,
                      auto& v) { o.overrides.rate = number(name, v, kMinRate, kMaxRate); }},
        {"--bits",
         [](Options& o, auto& name, auto& v) {
             o.overrides.bits = oneOf(name, v, {"8", "16"}) == 0 ? 8 : 16;
         }},
        {"--channels",
         [](Options& o, auto& name, auto& v) {
             o.overrides.channels = oneOf(name, v, {"1", "2"}) + 1;
         }},
        {"--bitrate",
         [](Options& o, auto& name, auto& v) { o.overrides.bitRate = bitRate(name, v); }},
        {"--channel-mode",
         [](Options& o, auto& name, auto& v) {
             o.overrides.channelMode = oneOf(name, v, {"stereo", "joint", "mono", "dual"});
         }},
        {"--vbr",
         [](Options& o, auto& name, auto& v) {
             const auto dash = v.find('-');
             if (dash == std::string::npos)
                 throw Failure{name + " needs a range MIN-MAX in kb/s, such as 32-320, not \"" + v +
                               "\""};
             const int min = bitRate(name, v.substr(0, dash));
             const int max = bitRate(name, v.substr(dash + 1));
             if (min > max)
                 throw Failure{name + ": the minimum " + std::to_string(min) +
                               " is above the maximum " + std::to_string(max)};
             o.overrides.vbrMin = min;
             o.overrides.vbrMax = max;
         }},
        {"--soundfont", [](Options& o, auto&, auto& v) { o.overrides.soundFont = v; }},
        {"--jobs", [](Options& o, auto& name, auto& v) { o.jobs = number(name, v, 1, kMaxJobs); }},
    };
    return options;
}

const std::map<std::string, FlagHandler>& flagOptions() {
    static const std::map<std::string, FlagHandler> options = {
        {"--force", [](Options& o) { o.force = true; }},
        {"--quiet", [](Options& o) { o.quiet = true; }},
        {"-q", [](Options& o) { o.quiet = true; }},
        {"--help", [](Options& o) { o.help = true; }},
        {"-h", [](Options& o) { o.help = true; }},
    };
    return options;
}

void checkCombinations(const Options& o) {
    if (o.overrides.bitRate && o.overrides.vbrMin)
        throw Failure{"--bitrate (constant) and --vbr (variable) exclude each other"};
    if (o.help)
        return;
    if (o.inputs.empty())
        throw Failure{"no input files"};
    if (o.output && o.outputDir)
        throw Failure{"-o and --output-dir exclude each other"};
    if (!o.output && !o.outputDir)
        throw Failure{"say where the result goes, with -o OUTPUT or --output-dir DIR"};
    if (o.output && o.inputs.size() > 1)
        throw Failure{"-o names one output, but " + std::to_string(o.inputs.size()) +
                      " inputs were given; use --output-dir DIR"};
    if (o.outputDir && !o.format)
        throw Failure{"--output-dir needs --format mp3 or --format wav"};
}

} // namespace

bool isMp3BitRate(int kbps) {
    return std::find(kMp3BitRates.begin(), kMp3BitRates.end(), kbps) != kMp3BitRates.end();
}

ParsedArguments parseArguments(const std::vector<std::string>& args) {
    ParsedArguments parsed;
    Options& options = parsed.options;
    try {
        bool optionsEnd = false;
        for (std::size_t i = 0; i < args.size(); ++i) {
            const std::string& arg = args[i];
            if (optionsEnd || arg.size() < 2 || arg[0] != '-') {
                options.inputs.emplace_back(arg);
                continue;
            }
            if (arg == "--") {
                optionsEnd = true;
                continue;
            }
            std::string name = arg;
            std::optional<std::string> value;
            if (const auto equals = arg.find('='); arg.starts_with("--") && equals != arg.npos) {
                name = arg.substr(0, equals);
                value = arg.substr(equals + 1);
            }
            if (const auto flag = flagOptions().find(name); flag != flagOptions().end()) {
                if (value)
                    throw Failure{name + " takes no value"};
                flag->second(options);
                continue;
            }
            const auto option = valueOptions().find(name);
            if (option == valueOptions().end())
                throw Failure{"unknown option " + name};
            if (!value) {
                if (i + 1 >= args.size())
                    throw Failure{name + " needs a value"};
                value = args[++i];
            }
            if (value->empty())
                throw Failure{name + " needs a value"};
            option->second(options, name, *value);
        }
        checkCombinations(options);
    } catch (const Failure& failure) {
        parsed.error = failure.message;
    }
    return parsed;
}

std::string usageText() {
    return R"(Usage: quillory-convert [options] INPUT... (-o OUTPUT | --output-dir DIR)

Converts MIDI files (.mid, .midi) to WAV or MP3, and WAV files to MP3.

Output:
  -o, --output FILE      the one output file; .wav or .mp3 sets the type
  --output-dir DIR       one output per input in DIR, named after the input
  --format mp3|wav       the output type with --output-dir
  --force                replace outputs that exist (otherwise such a file fails)

Settings (the program's options.ini unless --settings names another; each
option below replaces the file's value):
  --settings FILE        options.ini to read
  --rate HZ              WAV sample rate, 8000-96000; given here it also sets the
                         synthesis rate of MIDI to MP3 (44100 Hz otherwise)
  --bits 8|16            WAV bits per sample
  --channels 1|2         WAV channels
  --bitrate KBPS         MP3 constant bit rate
  --vbr MIN-MAX          MP3 variable bit rate between MIN and MAX kb/s
  --channel-mode stereo|joint|mono|dual
                         MP3 channel mode
  --soundfont FILE       SoundFont for MIDI (.sf2/.sf3)

Running:
  --jobs N               files converted at once (default: one per core)
  -q, --quiet            report failures only
  -h, --help             this text

A WAV input needs an MP3 output. Each finished file gets one line on stderr.
Exit status: 0 all converted, 1 some failed, 2 usage error.
)";
}

} // namespace convert
