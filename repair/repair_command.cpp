#include "repair/repair_command.h"

#include "flv/flv_timeline.h"
#include "repair/repair_files.h"
#include "repair/repaired_copy.h"

#include <cstdio>
#include <iostream>

#include <unistd.h>

namespace movarin::repair {

namespace {

constexpr const char* kUsage = "usage: movarin-repair [--force] IN.flv OUT.flv\n";
// Shorter files are done before a progress line would be read.
constexpr std::uint64_t kProgressFrom = 64u << 20;

int fail(const std::string& message) {
    std::cerr << "movarin-repair: " << message << '\n';
    return kExitFailed;
}

// A line on standard error that counts up while a long file is read and written, only where a
// person watches (a terminal), and gone once the work is done.
class ProgressLine {
public:
    explicit ProgressLine(std::uint64_t inputSize)
        : m_on(inputSize >= kProgressFrom && ::isatty(STDERR_FILENO)) {}
    ~ProgressLine() { clear(); }
    // Before any other line, so that it does not land behind the count.
    void clear() {
        if (m_shown)
            std::fprintf(stderr, "\r%40s\r", "");
        m_shown = false;
    }
    Progress over(const char* what, std::uint64_t total) {
        if (!m_on || total == 0)
            return {};
        return [this, what, total](std::uint64_t done) {
            const int percent = int(std::min<std::uint64_t>(done, total) * 100 / total);
            if (percent == m_percent && what == m_what)
                return;
            m_percent = percent;
            m_what = what;
            m_shown = true;
            std::fprintf(stderr, "\rmovarin-repair: %s %3d%%", what, percent);
            std::fflush(stderr);
        };
    }

private:
    bool m_on;
    bool m_shown = false;
    int m_percent = -1;
    const char* m_what = nullptr;
};

struct Names {
    bool force = false;
    std::vector<std::string> paths;
};

// Options first; `--` ends them, so that a name may start with a dash.
bool parse(const std::vector<std::string>& args, Names& names, bool& help) {
    bool options = true;
    for (const std::string& a : args) {
        if (options && a == "--") {
            options = false;
        } else if (options && a == "--force") {
            names.force = true;
        } else if (options && (a == "--help" || a == "-h")) {
            help = true;
        } else if (options && a.size() > 1 && a[0] == '-') {
            return false;
        } else {
            names.paths.push_back(a);
        }
    }
    return help || names.paths.size() == 2;
}

std::string whyNotRepairable(InputFile& input) {
    std::uint8_t head[flv::kFileHeaderSize] = {};
    const std::int64_t r = input.readAt(0, head, sizeof head);
    if (r < 0)
        return "cannot be read";
    if (!flv::has_signature(head, std::size_t(r)))
        return "is not an FLV file";
    return "holds no sound or picture that can be kept";
}

} // namespace

std::string summary_line(const std::string& out, std::uint64_t tags, std::uint64_t dropped,
                         std::uint64_t resyncs, double seconds, double claimed) {
    char said[64] = "the file said nothing";
    if (claimed > 0)
        std::snprintf(said, sizeof said, "the file said %.2f s", claimed);
    char line[256];
    std::snprintf(line, sizeof line,
                  "%llu tags kept, %llu bytes dropped, %llu places resynchronised, %.2f s long (%s)",
                  static_cast<unsigned long long>(tags), static_cast<unsigned long long>(dropped),
                  static_cast<unsigned long long>(resyncs), seconds, said);
    return out + ": " + line;
}

int repair_command(const std::vector<std::string>& args) {
    Names names;
    bool help = false;
    if (!parse(args, names, help)) {
        std::cerr << kUsage;
        return kExitUsage;
    }
    if (help) {
        std::cout << kUsage;
        return kExitWritten;
    }
    const std::string& in = names.paths[0];
    const std::string& out = names.paths[1];
    InputFile input(in);
    if (!input.problem().empty())
        return fail(in + ": " + input.problem());
    if (same_file(in, out))
        return fail(out + ": is the same file as " + in + "; the recording is never written");
    if (!names.force && exists(out))
        return fail(out + ": already exists (--force replaces it)");

    flv::RepairingReader reader(input);
    flv::CompositionRepair composition;
    reader.setPatch(&composition);
    StreamFacts facts;
    std::string error;
    ProgressLine progress(input.size());
    if (!reader.valid())
        return fail(in + ": " + whyNotRepairable(input));
    if (!scan_stream(reader, facts, error, progress.over("reading", input.size())))
        return fail(in + ": " + error);
    if (!facts.sound && !facts.picture)
        return fail(in + ": " + whyNotRepairable(input));

    const MetadataPlan plan = plan_metadata(facts);
    OutputFile output(out, names.force);
    if (!output.problem().empty())
        return fail(out + ": " + output.problem());
    if (!write_copy(reader, facts, plan, output, error, progress.over("writing", facts.size)))
        return fail(error);
    if (!output.commit(error))
        return fail(out + ": " + error);

    progress.clear();
    const flv::RepairingReader::Stats stats = reader.stats();
    const std::uint64_t kept = facts.tags - (facts.haveMeta ? 1 : 0);
    const std::uint64_t dropped = input.size() > facts.size ? input.size() - facts.size : 0;
    std::cout << summary_line(out, kept, dropped, stats.resyncs, facts.duration(),
                              facts.meta.duration)
              << std::endl;
    return kExitWritten;
}

} // namespace movarin::repair
