// The summary of the last page: the files written per chosen kind, then one line for
// each thing the run passed over, only when it applies.
#include "app/wizard/RunSummary.h"

#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace harvix {
namespace {

struct Case {
    const char* name;
    KindSwitches chosen;
    std::vector<std::pair<ResourceKind, LeftOutReason>> leftOut;
    int unreadableFiles;
    const char* expected;
    int packedModules = 0;
    int foldedBitmaps = 0;
};

const std::string kNbsp = "\u00A0";

TEST(RunSummary, TheWordsOfACountStayOnOneLine) {
    ResultStats stats;
    stats.FillStatsList({false, false, false, true, true, false});
    EXPECT_EQ(RunSummaryText(stats.rows(), RunAccount()),
              "Files written: Animated" + kNbsp + "cursor" + kNbsp + "0, Video" + kNbsp + "(AVI)" +
                  kNbsp + "0.");
}

TEST(RunSummary, WrittenPerKindThenEachCauseOnlyWhenItApplies) {
    using K = ResourceKind;
    using R = LeftOutReason;
    const Case cases[] = {
        {"nothing passed over", {true, true, false, false, false, true}, {}, 0,
         "Files written: Bitmap 3, Icon 0, Web page 2."},
        {"every cause",
         {true, true, false, false, false, true},
         {{K::Bitmap, R::Limits}, {K::Bitmap, R::Limits}, {K::Icon, R::Limits},
          {K::Bitmap, R::Malformed}, {K::Html, R::Empty}},
         2,
         "Files written: Bitmap 3, Icon 0, Web page 2.\n"
         "Left out by the limits: Bitmap 2, Icon 1.\n"
         "The limits are set on the \"Resource types\" page: widen them there in another run "
         "to take these too.\n"
         "Not well formed: Bitmap 1.\n"
         "Empty or missing: Web page 1.\n"
         "Copies not written again (a file written earlier holds the same bytes): Bitmap 2.\n"
         "Files that could not be read: 2.\n"
         "2 modules packed by UPX: the resources beyond the first icon group and the version are compressed; "
         "unpack it with `upx -d` to read them.",
         2, 2},
        // Only what the chosen kinds met is named; a kind not chosen has no row.
        {"one kind chosen", {false, true, false, false, false, false},
         {{K::Bitmap, R::Malformed}, {K::Icon, R::Empty}}, 1,
         "Files written: Icon 0.\nEmpty or missing: Icon 1.\nFiles that could not be read: 1."},
    };
    const std::string text =
        (std::filesystem::temp_directory_path() / ("harvix-summary-" + std::to_string(::getpid())))
            .string();
    std::ofstream(text) << "not a module";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ResultStats stats;
        stats.FillStatsList(c.chosen);
        for (int i = 0; i < 3; ++i)
            stats.ResFound(0);
        stats.ResFound(5);
        stats.ResFound(5);
        RunAccount account;
        const std::string module = "/m/a.dll";
        const ResId type = ResId::of(ResType::Bitmap);
        const ResId name = ResId::number(1);
        for (const auto& [kind, reason] : c.leftOut)
            account.ResourceLeftOut({module, type, name, 0x409}, kind, {reason, {}});
        for (int i = 0; i < c.unreadableFiles; ++i)
            account.ModuleNotOpened("/m/f" + std::to_string(i) + ".dll",
                                    makeError(ErrorKind::NotLoadable, "denied", EACCES));
        for (int i = 0; i < c.packedModules; ++i)
            account.ModulePacked("/m/p" + std::to_string(i) + ".exe", Packer::Upx);
        for (int i = 0; i < c.foldedBitmaps; ++i)
            account.CopyFolded(ResourceKind::Bitmap, "/d/Bitmaps/a.dll.bmp");
        // A file that was read and is no module is nothing to report.
        account.ModuleNotOpened(text, makeError(ErrorKind::NotLoadable, "not a module"));
        std::string shown = RunSummaryText(stats.rows(), account);
        // The words of a pair stay together; otherwise the text is as written above.
        for (std::size_t at = shown.find(kNbsp); at != std::string::npos; at = shown.find(kNbsp))
            shown.replace(at, kNbsp.size(), " ");
        EXPECT_EQ(shown, c.expected);
    }
    std::filesystem::remove(text);
}

} // namespace
} // namespace harvix
