// Huge pages for large blocks: which pages a block covers, and what the allocator hands out.
#include "engine/large_blocks.h"

#include <QtTest>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fstream>
#include <sstream>
#include <string>

using namespace movarin::large_blocks;

namespace {
constexpr std::uintptr_t MiB = 1u << 20;

// The VmFlags of the mapping that holds `address`, from /proc/self/smaps.
QString flagsOfMapping(const void* address) {
    const auto at = reinterpret_cast<std::uintptr_t>(address);
    std::ifstream smaps("/proc/self/smaps");
    std::string line;
    bool inside = false;
    while (std::getline(smaps, line)) {
        std::uintptr_t from = 0, to = 0;
        char dash = 0;
        std::istringstream head(line);
        if (head >> std::hex >> from >> dash >> to && dash == '-' &&
            line.find(':') > line.find(' ')) {
            inside = from <= at && at < to;
        } else if (inside && line.rfind("VmFlags:", 0) == 0) {
            return QString::fromStdString(line.substr(8)).trimmed();
        }
    }
    return {};
}
} // namespace

class TestLargeBlocks : public QObject {
    Q_OBJECT
private slots:
    void wholePages() {
        constexpr std::uintptr_t top = std::numeric_limits<std::uintptr_t>::max();
        const struct {
            const char* name;
            std::uintptr_t begin;
            std::size_t size, page;
            std::uintptr_t from, to;
        } rows[] = {
            {"aligned, whole", 4 * MiB, 4 * MiB, 2 * MiB, 4 * MiB, 8 * MiB},
            // The decoder's probe buffer: 10 MiB and a little, where the allocator put it.
            {"probe buffer", 0x7f2d6bff9010, 10 * MiB + 64, 2 * MiB, 0x7f2d6c000000,
             0x7f2d6c800000},
            {"ends mid-page", 2 * MiB, 3 * MiB, 2 * MiB, 2 * MiB, 4 * MiB},
            {"no whole page", MiB, 2 * MiB, 2 * MiB, 0, 0},
            {"empty block", 2 * MiB, 0, 2 * MiB, 0, 0},
            {"page not a power of two", 0, 12 * MiB, 3 * MiB, 0, 0},
            {"page zero", 0, 12 * MiB, 0, 0, 0},
            {"past the address space", top - MiB, 4 * MiB, 2 * MiB, 0, 0},
            {"rounding up would wrap", top - 100, 50, 2 * MiB, 0, 0},
        };
        for (const auto& row : rows) {
            const Span span = whole_pages(row.begin, row.size, row.page);
            QVERIFY2(span.begin == row.from && span.end == row.to, row.name);
        }
    }

    // Through the program's own posix_memalign, as the decoder library calls it.
    void allocatorHintsLargeBlocksOnly() {
        QVERIFY(!hinting());
        use_huge_pages();
        if (!hinting())
            QSKIP("the hint is not built into this build (a sanitizer, or not Linux)");

        // Libraries find the program's definition, not the C library's.
        using Allocate = int (*)(void**, std::size_t, std::size_t);
        const auto seen = reinterpret_cast<Allocate>(dlsym(RTLD_DEFAULT, "posix_memalign"));
        QVERIFY(seen == static_cast<Allocate>(&posix_memalign));

        void* large = nullptr;
        QCOMPARE(seen(&large, 64, 10 * MiB + 64), 0);
        QVERIFY(large);
        QCOMPARE(reinterpret_cast<std::uintptr_t>(large) % 64, std::uintptr_t(0));
        std::memset(large, 0, 10 * MiB + 64);
        const Span span = whole_pages(reinterpret_cast<std::uintptr_t>(large), 10 * MiB + 64);
        QVERIFY(!span.empty());
        const auto* inside = reinterpret_cast<const void*>(span.begin);
        QVERIFY2(flagsOfMapping(inside).split(u' ').contains(u"hg"),
                 qPrintable(flagsOfMapping(inside)));
        std::free(large);

        // Below the threshold: not touched, even where a whole huge page would fit.
        void* small = nullptr;
        QCOMPARE(posix_memalign(&small, 2 * MiB, 2 * MiB), 0);
        std::memset(small, 1, 2 * MiB);
        QVERIFY2(!flagsOfMapping(small).split(u' ').contains(u"hg"),
                 qPrintable(flagsOfMapping(small)));
        std::free(small);

        // The C library's answers pass through unchanged.
        void* bad = &bad;
        QCOMPARE(posix_memalign(&bad, 3, 8 * MiB), EINVAL);
    }
};

QTEST_APPLESS_MAIN(TestLargeBlocks)
#include "test_large_blocks.moc"
