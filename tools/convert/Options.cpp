// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "tools/convert/Options.h"

#include "components/synthesis/UsableCores.h"
#include "tools/convert/StandardStreams.h"

#include <QCommandLineParser>
#include <QRegularExpression>
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
constexpr std::array kTypes = {OutputType::Wav, OutputType::Flac, OutputType::Vorbis,
                               OutputType::Opus, OutputType::Mp3};

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

// The environment parseArguments was given, for the options that read it.
thread_local const Environment* environment = nullptr;

std::optional<int> environmentNumber(const char* name) {
    const char* value = (*environment)(name);
    if (value == nullptr)
        return std::nullopt;
    int number = 0;
    const std::string text = value;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (text.empty() || ec != std::errc() || ptr != text.data() + text.size() || number < 0)
        return std::nullopt;
    return number;
}

// K/N; slurm, the task of a Slurm job array; index/N, a Kubernetes indexed job's completion index.
Shard shard(const std::string& option, const std::string& text) {
    Shard shard;
    if (text == "slurm") {
        const std::optional<int> id = environmentNumber("SLURM_ARRAY_TASK_ID");
        const std::optional<int> count = environmentNumber("SLURM_ARRAY_TASK_COUNT");
        if (!id || !count || *count < 1)
            throw Failure{option +
                          " slurm needs SLURM_ARRAY_TASK_ID and SLURM_ARRAY_TASK_COUNT, which a "
                          "task of a Slurm job array (sbatch --array) has"};
        // An array numbered from 1 (--array=1-100) counts from its first task.
        shard = {*id - environmentNumber("SLURM_ARRAY_TASK_MIN").value_or(0), *count};
    } else {
        const auto slash = text.find('/');
        if (slash == std::string::npos)
            throw Failure{option + " must be K/N (0 <= K < N), index/N or slurm, not \"" + text +
                          "\""};
        shard.count = number(option, text.substr(slash + 1), 1, 1 << 30);
        if (text.substr(0, slash) == "index") {
            const std::optional<int> index = environmentNumber("JOB_COMPLETION_INDEX");
            if (!index)
                throw Failure{option + " index/N needs JOB_COMPLETION_INDEX, which a pod of an "
                                       "indexed Kubernetes job has"};
            shard.index = *index;
        } else {
            shard.index = number(option, text.substr(0, slash), 0, 1 << 30);
        }
    }
    if (shard.index < 0 || shard.index >= shard.count)
        throw Failure{option + ": shard " + std::to_string(shard.index) + " of " +
                      std::to_string(shard.count) + " does not exist (0 to " +
                      std::to_string(shard.count - 1) + ")"};
    return shard;
}

// One option of the command line: its names, the name of its value (none for a flag), its line
// in --help, and what it does with the value. A new option is one more entry in options().
struct OptionSpec {
    QStringList names;
    QString valueName;
    QString description;
    std::function<void(Options&, const std::string& option, const std::string& value)> apply;
};

std::vector<OptionSpec> options() {
    using S = std::string;
    return {
        {{"o", "output"},
         "FILE",
         "The one output file; .wav, .flac, .ogg (Vorbis), .opus or .mp3 sets the type. - "
         "writes to standard output, with --format wav, flac, ogg or opus.",
         [](Options& o, const S&, const S& v) { o.output = v; }},
        {{"output-dir"},
         "DIR",
         "One output per input in DIR, named after the input; DIR and its parents are made "
         "when missing.",
         [](Options& o, const S&, const S& v) { o.outputDir = v; }},
        {{"format"},
         "wav|flac|ogg|opus|mp3",
         "The output type with --output-dir, or with -o -.",
         [](Options& o, const S& name, const S& v) {
             o.format = kTypes[std::size_t(oneOf(name, v, {"wav", "flac", "ogg", "opus", "mp3"}))];
         }},
        {{"stems"},
         "",
         "Also a stem for every MIDI channel that sounds, in NAME.stems/ beside the output "
         "(\"01 Acoustic Grand Piano.flac\", \"10 Drums.flac\"), in the output's format; the "
         "stems add up to the output. Of MIDI inputs only, and not for MP3.",
         [](Options& o, const S&, const S&) { o.stems = true; }},
        {{"labels"},
         "tsv|mir_eval",
         "Also where every note of a MIDI input really sounded: NAME.labels.tsv beside the "
         "output (and one per stem), a line a note with its onset and offset in samples of the "
         "output and in seconds, key, frequency, velocity, channel, bank, program, when its key "
         "was let go and when its sound ended; or, as mir_eval, NAME.labels.txt with \"onset "
         "offset frequency\" lines. The form may be left out: tsv.",
         [](Options& o, const S& name, const S& v) {
             o.labels = oneOf(name, v, {"tsv", "mir_eval"}) == 0 ? conversion::LabelForm::Table
                                                                 : conversion::LabelForm::MirEval;
         }},
        {{"files-from"},
         "FILE",
         "Also convert the files listed in FILE (- for standard input), one path a line, as "
         "many as a collection holds.",
         [](Options& o, const S&, const S& v) { o.filesFrom = v; }},
        {{"keep-tree"},
         "ROOT",
         "With --output-dir, write each output in the folder below DIR that its input has "
         "below ROOT, making the folders.",
         [](Options& o, const S&, const S& v) { o.keepTree = v; }},
        {{"shard"},
         "K/N|index/N|slurm",
         "Convert only the inputs whose place in the sorted list of inputs leaves K over when "
         "divided by N, so that N processes anywhere share a collection without meeting. slurm "
         "takes K and N from the task of a Slurm job array, index/N takes K from "
         "JOB_COMPLETION_INDEX (an indexed Kubernetes job).",
         [](Options& o, const S& name, const S& v) { o.shard = shard(name, v); }},
        {{"resume"},
         "",
         "Skip each input whose output exists and is complete: as long as the song (and its "
         "ring), or reported ok with the same settings in the --report file, which grows. "
         "Other outputs are made again.",
         [](Options& o, const S&, const S&) { o.resume = true; }},
        {{"max-seconds"},
         "N",
         "Fail a song longer than N seconds at once (default 14400, four hours), so that a "
         "damaged tempo map cannot fill the disk.",
         [](Options& o, const S& name, const S& v) { o.maxSeconds = number(name, v, 1, 1 << 30); }},
        {{"timeout"},
         "S",
         "Stop and fail a file whose conversion takes more than S seconds; the batch goes on.",
         [](Options& o, const S& name, const S& v) { o.timeout = number(name, v, 1, 1 << 30); }},
        {{"report"},
         "FILE",
         "Write a JSON object per input to FILE (- for standard output, unless -o - writes the "
         "audio there) as each one ends: "
         "status, settings, versions, loudness, stems and times.",
         [](Options& o, const S&, const S& v) { o.report = v; }},
        {{"force"},
         "",
         "Replace outputs that exist (otherwise such a file fails).",
         [](Options& o, const S&, const S&) { o.force = true; }},
        {{"settings"},
         "FILE",
         "The options.ini to read instead of the program's.",
         [](Options& o, const S&, const S& v) { o.settingsFile = v; }},
        {{"rate"},
         "HZ",
         "Sample rate, 8000-96000; given here it also sets the synthesis rate of MIDI to MP3 "
         "(44100 Hz otherwise). Opus is always 48000 Hz, synthesised at that rate.",
         [](Options& o, const S& name, const S& v) {
             o.overrides.rate = number(name, v, kMinRate, kMaxRate);
         }},
        {{"bits"},
         "8|16|24|32f",
         "Bits per sample: WAV 8, 16, 24 or 32f (float); FLAC 16 or 24. A WAV input keeps its "
         "own unless told.",
         [](Options& o, const S& name, const S& v) {
             o.overrides.bits =
                 std::array{8, 16, 24, 32}[std::size_t(oneOf(name, v, {"8", "16", "24", "32f"}))];
         }},
        {{"channels"},
         "1|2",
         "Channels of WAV, FLAC, Ogg Vorbis and Opus.",
         [](Options& o, const S& name, const S& v) {
             o.overrides.channels = oneOf(name, v, {"1", "2"}) + 1;
         }},
        {{"bitrate"},
         "KBPS",
         "MP3 constant bit rate; or Opus bit rate, 6 to 256 kb/s a channel (default 128).",
         [](Options& o, const S& name, const S& v) {
             o.overrides.bitRate = number(name, v, 1, 1000);
         }},
        {{"quality"},
         "0-10",
         "Ogg Vorbis quality, as oggenc counts it (default 6).",
         [](Options& o, const S& name, const S& v) {
             o.overrides.quality = number(name, v, 0, 10);
         }},
        {{"vbr"},
         "MIN-MAX",
         "MP3 variable bit rate between MIN and MAX kb/s.",
         [](Options& o, const S& name, const S& v) {
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
        {{"channel-mode"},
         "MODE",
         "MP3 channel mode: stereo, joint, mono or dual.",
         [](Options& o, const S& name, const S& v) {
             o.overrides.channelMode = oneOf(name, v, {"stereo", "joint", "mono", "dual"});
         }},
        {{"soundfont"},
         "FILE",
         "SoundFont for MIDI (.sf2/.sf3). Given more than once, the SoundFonts play as one: "
         "each preset from the first that has it.",
         [](Options& o, const S&, const S& v) { o.overrides.soundFonts.emplace_back(v); }},
        {{"loudness"},
         "LUFS|off",
         "Bring MIDI renders to LUFS (-30 to -5), or off for the synthesiser's fixed gain.",
         [](Options& o, const S& name, const S& v) {
             o.overrides.loudness = quillory::renderer::LoudnessChoice::parse(v);
             if (!o.overrides.loudness)
                 throw Failure{name + " must be a number of LUFS from -30 to -5, or off, not \"" +
                               v + "\""};
         }},
        {{"jobs"},
         "N",
         QStringLiteral("Files converted at once (default: one per core the process may use, "
                        "which its CPU affinity and its control group's CPU quota limit; %1 on "
                        "this system). Their songs share those cores: fewer files than cores "
                        "leaves each song several to be synthesised on.")
             .arg(defaultJobs()),
         [](Options& o, const S& name, const S& v) { o.jobs = number(name, v, 1, kMaxJobs); }},
        {{"q", "quiet"},
         "",
         "Report failures only.",
         [](Options& o, const S&, const S&) { o.quiet = true; }},
    };
}

const QString kDescription = QStringLiteral(
    "Converts MIDI files (.mid, .midi, .rmi, .kar) and WAV files to WAV, FLAC, Ogg\n"
    "Vorbis, Opus or MP3.\n"
    "\n"
    "The settings are those of the program's options.ini unless --settings names\n"
    "another file; each of --rate, --bits, --channels, --bitrate, --vbr,\n"
    "--channel-mode, --soundfont and --loudness replaces the file's value. A setting\n"
    "the output format cannot take is a usage error. Opus is always 48000 Hz. A WAV\n"
    "input keeps its level, rate and channels; WAV to FLAC keeps every sample.\n"
    "The input - reads a MIDI or WAV file from standard input, and -o - writes the\n"
    "one output to standard output as a stream, progress and messages staying on\n"
    "stderr: a WAV there carries its exact length when it is known beforehand (a\n"
    "WAV input, or a levelled song), and otherwise the size 0xFFFFFFFF, which readers\n"
    "take as \"up to the end\"; a FLAC stream leaves its length and MD5 unknown. MP3\n"
    "is not written there: its length goes into its first frame at the end.\n"
    "Each file gets one line on stderr, and a last line counts them with the batch's\n"
    "time: \"3 converted, 1 failed (2 min 05 s)\" (tenths of a second up to a minute,\n"
    "then min and s, then h, min and s).\n"
    "Ctrl+C stops the files in flight, removing what they began; the files not yet\n"
    "begun are reported as \"not started\". A second Ctrl+C does not wait for them.\n"
    "A file that another running process converts is left to it (\"skipped\").\n"
    "Exit status: 0 all converted (or skipped, or complete already with --resume),\n"
    "1 some failed, 2 usage error, 130 interrupted\n"
    "(the program ends as killed by the signal; 143 for SIGTERM).");

// The parser with every option; the help and version options are the usual Qt ones.
struct Parser {
    Parser() {
        parser.setApplicationDescription(kDescription);
        parser.addHelpOption();
        parser.addVersionOption();
        for (std::size_t i = 0; i < specs.size(); ++i) {
            const OptionSpec& spec = specs[i];
            parser.addOption(QCommandLineOption(spec.names, spec.description, spec.valueName));
            for (const QString& name : spec.names)
                byName.emplace(name, i);
        }
        parser.addPositionalArgument(QStringLiteral("INPUT"),
                                     QStringLiteral("A MIDI or WAV file to convert; - reads one "
                                                    "from standard input."),
                                     QStringLiteral("INPUT... (-o OUTPUT | --output-dir DIR)"));
    }

    std::vector<OptionSpec> specs = options();
    std::map<QString, std::size_t> byName;
    QCommandLineParser parser;
};

// Arguments are bytes, and so are file names: each byte is carried as one Latin-1 character
// through the parser, so that a name in any encoding reaches the file system unchanged.
QString carried(const std::string& bytes) {
    return QString::fromLatin1(bytes.data(), qsizetype(bytes.size()));
}
std::string bytesOf(const QString& carried) {
    return carried.toLatin1().toStdString();
}

std::string dashed(const QString& name) {
    return (name.size() == 1 ? "-" : "--") + bytesOf(name);
}

// The parser's own complaints, said the way the rest of our messages are.
std::string parseFailure(const QCommandLineParser& parser) {
    const QString text = parser.errorText();
    static const QRegularExpression missing(QStringLiteral("^Missing value after '(.*)'\\.$"));
    static const QRegularExpression unexpected(
        QStringLiteral("^Unexpected value after '(.*)'\\.$"));
    if (const auto m = missing.match(text); m.hasMatch())
        return bytesOf(m.captured(1)) + " needs a value";
    if (const auto m = unexpected.match(text); m.hasMatch())
        return bytesOf(m.captured(1)) + " takes no value";
    if (!parser.unknownOptionNames().isEmpty())
        return "unknown option " + dashed(parser.unknownOptionNames().first());
    return bytesOf(text);
}

// Applies the options in the order they were given, so a later one wins and the first bad
// value is the one reported.
void applyInOrder(const Parser& p, Options& o) {
    std::map<std::size_t, qsizetype> seen;
    for (const QString& name : p.parser.optionNames()) {
        const auto found = p.byName.find(name);
        if (found == p.byName.end())
            continue; // --help, --version
        const OptionSpec& spec = p.specs[found->second];
        std::string value;
        if (!spec.valueName.isEmpty()) {
            value = bytesOf(p.parser.values(name).value(seen[found->second]++));
            if (value.empty())
                throw Failure{dashed(name) + " needs a value"};
        }
        spec.apply(o, dashed(name), value);
    }
}

// "-" reads standard input and writes standard output, each one file, once; nothing but the
// audio may go to standard output then, and what a stream cannot take is refused here.
void checkStandardStreams(const Options& o) {
    if (std::count_if(o.inputs.begin(), o.inputs.end(), isStandardStream) > 1)
        throw Failure{"standard input (-) can be read only once"};
    const bool fromStdin = std::any_of(o.inputs.begin(), o.inputs.end(), isStandardStream);
    if (fromStdin && o.outputDir)
        throw Failure{"--output-dir names each output after its input, and standard input (-) "
                      "has no name; use -o FILE, or -o - for standard output"};
    if (fromStdin && o.resume)
        throw Failure{"--resume reads the input to judge its output, and standard input (-) can "
                      "be read only once"};
    if (!o.output || !isStandardStream(*o.output))
        return;
    if (!o.format)
        throw Failure{"-o - writes to standard output, which has no extension to tell the type: "
                      "add --format wav, flac, ogg or opus"};
    if (*o.format == OutputType::Mp3)
        throw Failure{"MP3 cannot be written to standard output: its length and gapless delay go "
                      "into its first frame once it is encoded, which a stream cannot take back; "
                      "use -o FILE.mp3, or --format wav, flac, ogg or opus"};
    if (o.stems)
        throw Failure{"--stems writes a folder beside the output, and standard output (-o -) has "
                      "no folder; use -o FILE"};
    if (o.report && isStandardStream(*o.report))
        throw Failure{"--report - and -o - would both write to standard output; give the report "
                      "a file"};
    if (o.resume)
        throw Failure{"--resume skips outputs that are complete, and standard output (-o -) is "
                      "never one"};
}

void checkCombinations(const Options& o) {
    if (o.overrides.bitRate && o.overrides.vbrMin)
        throw Failure{"--bitrate (constant) and --vbr (variable) exclude each other"};
    if (o.help || o.version)
        return;
    if (o.inputs.empty() && !o.filesFrom)
        throw Failure{"no input files"};
    if (o.keepTree && !o.outputDir)
        throw Failure{"--keep-tree needs --output-dir"};
    if (o.output && o.outputDir)
        throw Failure{"-o and --output-dir exclude each other"};
    if (!o.output && !o.outputDir)
        throw Failure{"say where the result goes, with -o OUTPUT or --output-dir DIR"};
    if (o.output && o.filesFrom)
        throw Failure{"-o names one output; use --output-dir DIR with --files-from"};
    if (o.output && o.inputs.size() > 1)
        throw Failure{(isStandardStream(*o.output) ? "-o - writes one conversion to standard output"
                                                   : "-o names one output") +
                      std::string(", but ") + std::to_string(o.inputs.size()) +
                      " inputs were given; use --output-dir DIR"};
    if (o.outputDir && !o.format)
        throw Failure{"--output-dir needs --format wav, flac, ogg, opus or mp3"};
    checkStandardStreams(o);
    const std::optional<OutputType> type = o.format ? o.format : outputTypeOf(*o.output);
    if (type)
        if (const std::string problem = formatProblem(o, *type); !problem.empty())
            throw Failure{problem};
}

std::string mp3BitRates() {
    std::string list;
    for (const int kbps : kMp3BitRates)
        list += (list.empty()                  ? ""
                 : kbps == kMp3BitRates.back() ? " or "
                                               : ", ") +
                std::to_string(kbps);
    return list;
}

// What each format takes of the settings that are not for every format.
std::string bitsProblem(const Options& o, OutputType type) {
    const int bits = *o.overrides.bits;
    const std::string given = bits == 32 ? "32f" : std::to_string(bits);
    switch (type) {
    case OutputType::Wav:
        return {};
    case OutputType::Flac:
        return bits == 16 || bits == 24 ? "" : "FLAC takes --bits 16 or 24, not " + given;
    default:
        return std::string(formatName(type)) + " takes no --bits (" +
               (type == OutputType::Mp3 ? "LAME reads float" : "it is coded from float") +
               "), but --bits " + given + " was given";
    }
}

std::string bitRateProblem(const Options& o, OutputType type) {
    const int kbps = *o.overrides.bitRate;
    const int channels = o.overrides.channels.value_or(2);
    if (type == OutputType::Mp3)
        return isMp3BitRate(kbps) ? ""
                                  : "MP3 takes --bitrate " + mp3BitRates() + ", not " +
                                        std::to_string(kbps) + " kb/s";
    if (type == OutputType::Opus)
        return kbps >= 6 * channels && kbps <= 256 * channels
                   ? ""
                   : "Opus takes --bitrate 6 to 256 kb/s a channel (" +
                         std::to_string(6 * channels) + " to " + std::to_string(256 * channels) +
                         " with " + std::to_string(channels) + "), not " + std::to_string(kbps);
    return std::string(formatName(type)) + " takes no --bitrate (only MP3 and Opus do)";
}

} // namespace

std::optional<OutputType> outputTypeOf(const std::filesystem::path& path) {
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    for (const OutputType type : kTypes)
        if (extension == extensionOf(type))
            return type;
    return std::nullopt;
}

const char* formatName(OutputType type) {
    switch (type) {
    case OutputType::Flac:
        return "FLAC";
    case OutputType::Vorbis:
        return "Ogg Vorbis";
    case OutputType::Opus:
        return "Opus";
    case OutputType::Mp3:
        return "MP3";
    default:
        return "WAV";
    }
}

const char* extensionOf(OutputType type) {
    switch (type) {
    case OutputType::Flac:
        return ".flac";
    case OutputType::Vorbis:
        return ".ogg";
    case OutputType::Opus:
        return ".opus";
    case OutputType::Mp3:
        return ".mp3";
    default:
        return ".wav";
    }
}

std::string formatProblem(const Options& o, OutputType type) {
    const std::string name = formatName(type);
    if (o.overrides.bits)
        if (std::string problem = bitsProblem(o, type); !problem.empty())
            return problem;
    if (o.overrides.bitRate)
        if (std::string problem = bitRateProblem(o, type); !problem.empty())
            return problem;
    if (o.overrides.quality && type != OutputType::Vorbis)
        return name + " takes no --quality (only Ogg Vorbis does, 0-10)";
    if ((o.overrides.vbrMin || o.overrides.channelMode) && type != OutputType::Mp3)
        return name + " takes no --vbr or --channel-mode (only MP3 does)";
    if (o.overrides.channels && type == OutputType::Mp3)
        return "MP3 takes no --channels (only --channel-mode stereo, joint, mono or dual)";
    if (o.stems && type == OutputType::Mp3)
        return "--stems writes WAV, FLAC, Ogg Vorbis or Opus stems, not MP3";
    return {};
}

int defaultJobs() {
    return int(quillory::renderer::usableCores());
}

bool isMp3BitRate(int kbps) {
    return std::find(kMp3BitRates.begin(), kMp3BitRates.end(), kbps) != kMp3BitRates.end();
}

ParsedArguments parseArguments(const std::vector<std::string>& args, const Environment& given) {
    ParsedArguments parsed;
    environment = &given;
    Options& options = parsed.options;
    Parser p;
    QStringList list{QStringLiteral("quillory-convert")};
    for (std::size_t i = 0; i < args.size(); ++i) {
        // --labels takes its form only when one follows: tsv unless mir_eval or tsv is next.
        if (args[i] == "--labels") {
            const bool form =
                i + 1 < args.size() && (args[i + 1] == "tsv" || args[i + 1] == "mir_eval");
            list.append(carried("--labels=" + (form ? args[++i] : std::string("tsv"))));
            continue;
        }
        list.append(carried(args[i]));
    }
    try {
        if (!p.parser.parse(list))
            throw Failure{parseFailure(p.parser)};
        options.help =
            p.parser.isSet(QStringLiteral("help")) || p.parser.isSet(QStringLiteral("help-all"));
        options.version = p.parser.isSet(QStringLiteral("version"));
        applyInOrder(p, options);
        for (const QString& input : p.parser.positionalArguments())
            options.inputs.emplace_back(bytesOf(input));
        checkCombinations(options);
    } catch (const Failure& failure) {
        parsed.error = failure.message;
    }
    return parsed;
}

std::string usageText() {
    return Parser().parser.helpText().toStdString();
}

} // namespace convert
