// Every command example of the documents runs and does what its text says. The examples are
// collected from the documents themselves, so a new one is tested as soon as it is written:
// each line of a code block (indented or fenced in README.md and docs/*.md, fenced in the
// man pages) that starts with harvix-cli or harvix, after any NAME=VALUE settings, joined
// with the lines its trailing "\" continues onto, and each whole harvix-cli command written
// inline in a paragraph of README.md and docs/*.md. Each runs through the shell in a fresh
// scratch folder of its own: a home folder holding a Wine prefix of modules the test
// builds, a settings store there, and the files the examples name (setup.exe, shell32.dll,
// Icons/shell32.dll.ico, list.txt, ...) in the folder it runs in; the documents'
// placeholders (DIR, OUT, /mnt/windows) are mapped to trees there. An example that cannot
// run here is listed in kNotRun with the reason.
#include "tests/container/MsiTestPackage.h"
#include "tests/support/RunProgram.h"
#include "tests/support/TestFiles.h"
#include "tools/modbuilder/ModuleBuilder.h"
#include "tools/modbuilder/ResourcePayloads.h"
#include "tools/modbuilder/ShellLinkBuilder.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <gtest/gtest.h>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace harvix::test {
namespace {

namespace fs = std::filesystem;
namespace mb = modbuilder;

const std::string kSource = HARVIX_TEST_SOURCE_DIR;
const std::string kBinary = HARVIX_TEST_BINARY_DIR;

struct Example {
    std::string where; // "README.md:119"
    std::string command;
    bool inPipeline = false; // a stage of a longer command (the line before ends in | or \)
    std::string setup;       // the folders the block makes before it ("mkdir -p ~/png")
};

// The examples that cannot run in a test, with the reason.
const std::map<std::string, std::string> kNotRun = {
    {"HARVIX_REGISTRY=/tmp/harvix-test.sqlite3 harvix",
     "starts the wizard, which waits for a user at a display"},
    {"harvix-cli extract --files-from - --null --report shard-{#}.json --dest out/shard-{#}",
     "a stage of GNU parallel's pipeline in the sharding recipe, which "
     "tests/cli/shard-recipe.sh runs whole"},
    {"harvix-cli extract --files-from - --null --report \"reports/shard-$n.json\" "
     "--dest \"out/shard-$n\" < \"shards/list-$n\"",
     "the Slurm array task of the sharding recipe: it needs the task's number; the recipe "
     "runs in tests/cli/shard-recipe.sh"},
};

bool StartsWith(const std::string& text, const std::string& start) {
    return text.rfind(start, 0) == 0;
}

std::string Trim(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// The command without its shell comment (" # ..." outside quotes).
std::string WithoutComment(const std::string& line) {
    char quote = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quote != 0) {
            if (c == quote)
                quote = 0;
        } else if (c == '\'' || c == '"') {
            quote = c;
        } else if (c == '#' && i > 0 && (line[i - 1] == ' ' || line[i - 1] == '\t')) {
            return Trim(line.substr(0, i));
        }
    }
    return Trim(line);
}

// True for a command of the two programs: "harvix-cli ...", "harvix", "NAME=VALUE harvix".
bool IsProgramCommand(const std::string& command) {
    static const std::regex kCommand(R"(^([A-Za-z_][A-Za-z0-9_]*=\S*\s+)*harvix(-cli)?(\s.*)?$)");
    // A message the program printed, shown in a block ("harvix-cli icon: Game.lnk: ..."),
    // is no command.
    static const std::regex kMessage(R"(^harvix(-cli)?(\s[a-z-]+)?:\s.*$)");
    return std::regex_match(command, kCommand) && !std::regex_match(command, kMessage);
}

struct CodeLine {
    int number;
    std::string text;
    int block; // lines of one code block share it
};

// The code lines of one document, with their line numbers: Markdown's fenced blocks and
// lines indented by four spaces or a tab; a man page's fenced blocks.
std::vector<CodeLine> CodeLines(const fs::path& file, bool markdown) {
    std::vector<CodeLine> code;
    std::ifstream in(file);
    std::string line;
    bool fenced = false;
    int block = 0;
    for (int number = 1; std::getline(in, line); ++number) {
        if (StartsWith(Trim(line), "```")) {
            fenced = !fenced;
            ++block;
            continue;
        }
        const bool indented = markdown && (StartsWith(line, "    ") || StartsWith(line, "\t"));
        if (!fenced && !indented)
            continue;
        // An indented block ends at the first line that is not indented.
        if (!fenced && (code.empty() || code.back().number != number - 1))
            ++block;
        code.push_back({number, line, block});
    }
    return code;
}

// A command written in a Markdown paragraph (`harvix-cli settings Mask='*.dll'`) is an
// example when it is whole: it names something for the command to work on (a path, a
// setting, a word no option takes as its value) and holds no
// placeholder (a word in capitals, other than the OUT and DIR the test maps), no optional
// part in brackets and no "..."; `harvix-cli --version` and `--help` are whole alone. The
// rest name a command or an option in the text ("`harvix-cli extract --png`").
bool IsWholeInlineExample(const std::string& command) {
    if (!IsProgramCommand(command))
        return false;
    std::istringstream words(command);
    std::vector<std::string> parts;
    for (std::string word; words >> word;)
        parts.push_back(word);
    if (parts.size() == 2 && (parts[1] == "--version" || parts[1] == "--help"))
        return true;
    static const std::regex kPlaceholder(R"(^[A-Z][A-Z0-9_]*(\.\w+)?$)");
    bool operand = false;
    for (std::size_t i = 2; i < parts.size(); ++i) {
        const std::string& word = parts[i];
        if (word.find('[') != std::string::npos || word.find("...") != std::string::npos || word == "|")
            return false;
        if (std::regex_match(word, kPlaceholder) && word != "OUT" && word != "DIR")
            return false;
        // What the command works on: a path or a setting, or a word no option takes
        // as its value ("--format json" names an option and its value only).
        const bool pathOrSetting = word.find('/') != std::string::npos ||
                                   word.find('=') != std::string::npos || word.front() == '~';
        operand = operand || (word.front() != '-' && (pathOrSetting || parts[i - 1].front() != '-'));
    }
    return operand;
}

// The whole examples written inline in a Markdown document's paragraphs.
void CollectInlineExamples(const fs::path& document, std::vector<Example>& examples) {
    std::ifstream in(document);
    std::string line;
    bool fenced = false;
    // harvix-cli's commands only: the wizard named in a sentence ("`harvix --version`")
    // needs a display or a build with the wizard, which its code blocks show how to run.
    static const std::regex kSpan("`(harvix-cli( [^`]*)?)`");
    for (int number = 1; std::getline(in, line); ++number) {
        if (StartsWith(Trim(line), "```")) {
            fenced = !fenced;
            continue;
        }
        if (fenced || StartsWith(line, "    ") || StartsWith(line, "\t"))
            continue;
        for (std::sregex_iterator span(line.begin(), line.end(), kSpan), end; span != end; ++span)
            if (IsWholeInlineExample((*span)[1]))
                examples.push_back({fs::relative(document, kSource).string() + ":" + std::to_string(number),
                                    (*span)[1], false, {}});
    }
}

std::vector<Example> CollectExamples() {
    std::vector<fs::path> documents{kSource + "/README.md"};
    std::vector<fs::path> more;
    for (const auto& entry : fs::directory_iterator(kSource + "/docs"))
        if (entry.path().extension() == ".md")
            more.push_back(entry.path());
    for (const auto& entry : fs::directory_iterator(kSource + "/packaging/man"))
        if (entry.path().extension() == ".scd")
            more.push_back(entry.path());
    std::sort(more.begin(), more.end());
    documents.insert(documents.end(), more.begin(), more.end());

    std::vector<Example> examples;
    for (const fs::path& document : documents) {
        const bool markdown = document.extension() == ".md";
        const std::vector<CodeLine> lines = CodeLines(document, markdown);
        bool continues = false; // the line before ended in "\" or "|"
        std::string setup;      // the block's "mkdir" lines so far
        for (std::size_t i = 0; i < lines.size(); ++i) {
            if (i > 0 && lines[i].block != lines[i - 1].block)
                setup.clear();
            std::string text = lines[i].text;
            // scdoc writes a backslash doubled.
            if (!markdown)
                for (std::size_t at = text.find("\\\\"); at != std::string::npos;
                     at = text.find("\\\\", at + 1))
                    text.replace(at, 2, "\\");
            const bool partOfAnother = continues;
            const std::string trimmed = Trim(text);
            continues = !trimmed.empty() && (trimmed.back() == '\\' || trimmed.back() == '|');
            std::string command = WithoutComment(text);
            if (StartsWith(command, "mkdir ") && !partOfAnother)
                setup += command + " && ";
            if (!IsProgramCommand(command))
                continue;
            // Join the lines the trailing backslashes carry it onto.
            std::size_t j = i;
            while (!command.empty() && command.back() == '\\' && j + 1 < lines.size()) {
                command.pop_back();
                std::string next = lines[++j].text;
                if (!markdown)
                    for (std::size_t at = next.find("\\\\"); at != std::string::npos;
                         at = next.find("\\\\", at + 1))
                        next.replace(at, 2, "\\");
                command = Trim(command) + " " + WithoutComment(next);
            }
            examples.push_back({fs::relative(document, kSource).string() + ":" +
                                    std::to_string(lines[i].number),
                                command, partOfAnother, setup});
        }
    }
    for (const fs::path& document : documents)
        if (document.extension() == ".md")
            CollectInlineExamples(document, examples);
    return examples;
}

// Replaces every whole word `word` (not part of a longer name or path) by `by`.
std::string ReplaceWord(const std::string& text, const std::string& word, const std::string& by) {
    return std::regex_replace(text, std::regex("(^|[ =])" + word + "(?=$|[ /])"), "$1" + by);
}

class DocExamples : public ::testing::Test {
protected:
    void SetUp() override { root = harvix::testing::MakeScratchFolder("harvix-docs"); }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }

    static void Build(const fs::path& path, const mb::ModuleBuilder& builder) {
        fs::create_directories(path.parent_path());
        ASSERT_TRUE(mb::writeFile(path.string(), builder.build()).ok()) << path;
    }

    // shell32.dll: four icon groups (the fourth is 'shell32.dll,3'), a bitmap, a cursor.
    static mb::ModuleBuilder Shell32() {
        mb::ModuleBuilder b;
        for (std::uint16_t group = 1; group <= 4; ++group)
            mb::addIconGroup(b, ResId::number(group), static_cast<std::uint16_t>(group * 10),
                             {{32, 32, 8}, {16, 16, 8}, {48, 48, 32}},
                             mb::pictures::disc({0, 90, static_cast<std::uint8_t>(50 * group), 255}));
        b.add(ResId::of(ResType::Bitmap), ResId::number(131), 0x0409,
              mb::makeDib(32, 32, 8, mb::pictures::gradient()));
        mb::addCursorGroup(b, ResId::number(1), 100, {{32, 32, 1}}, mb::pictures::rings(), 4, 4);
        return b;
    }
    // imageres.dll: the icon group whose identifier is 184.
    static mb::ModuleBuilder Imageres() {
        mb::ModuleBuilder b;
        mb::addIconGroup(b, ResId::number(184), 1, {{32, 32, 8}, {256, 256, 32}},
                         mb::pictures::disc({200, 90, 0, 255}));
        return b;
    }

    // The folder one example runs in, with everything the documents name.
    fs::path Prepare(const std::string& name) {
        const fs::path env = root / name;
        const fs::path home = env / "home", work = env / "work";
        const fs::path system32 = home / ".wine/drive_c/windows/system32";
        fs::create_directories(system32);
        fs::create_directories(work / "programs");
        fs::create_directories(env / "mnt/windows/Windows/Resources/Themes");
        const fs::path samples = kBinary + "/samples";
        for (const auto& entry : fs::directory_iterator(samples)) {
            fs::copy_file(entry.path(), system32 / entry.path().filename());
            fs::copy_file(entry.path(), work / "programs" / entry.path().filename());
        }
        // A program with an icon and a version, under the names the examples give it.
        for (const char* program : {"setup.exe", "game.exe", "notepad.exe"})
            fs::copy_file(samples / "viewer.exe", work / program);
        fs::copy_file(samples / "pictures.dll",
                      env / "mnt/windows/Windows/Resources/Themes/aero.msstyles");
        Build(system32 / "shell32.dll", Shell32());
        Build(system32 / "imageres.dll", Imageres());
        fs::copy_file(system32 / "shell32.dll", work / "shell32.dll");
        fs::copy_file(system32 / "imageres.dll", work / "imageres.dll");
        std::ofstream(work / "list.txt") << (system32 / "shell32.dll").string() << "\n"
                                         << (system32 / "viewer.exe").string() << "\n";
        return env;
    }

    static void WriteBytes(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
        fs::create_directories(path.parent_path());
        ASSERT_TRUE(mb::writeFile(path.string(), bytes).ok()) << path;
    }

    // What the examples of installers, shortcuts, game folders and cursor packs name,
    // made only for the examples that name them (a package takes wixl a moment).
    void PrepareFor(const fs::path& env, const std::string& command) {
        const fs::path home = env / "home", work = env / "work";
        if (command.find("setup.msi") != std::string::npos) {
            const auto package = harvix::testing::MsiTestPackage::Make(env / "package");
            fs::copy_file(package.msi, work / "setup.msi");
        }
        if (command.find("Game.") != std::string::npos) {
            // A game in two prefixes, with a shell link to it on the public desktop of
            // the first, an Internet shortcut on a user's desktop of the second, and a
            // link of the second's beside the examples.
            mb::ShellLinkParts link;
            link.linkInfoPath = "C:\\Games\\Game\\game.exe";
            for (const fs::path& prefix : {home / ".wine", home / "Games/prefix"})
                Build(prefix / "drive_c/Games/Game/game.exe", Shell32());
            WriteBytes(home / ".wine/drive_c/users/Public/Desktop/Game.lnk", mb::makeShellLink(link));
            WriteBytes(work / "Game.lnk", mb::makeShellLink(link));
            fs::create_directories(home / "Games/prefix/drive_c/users/steamuser/Desktop");
            std::ofstream(home / "Games/prefix/drive_c/users/steamuser/Desktop/Game.url")
                << "[InternetShortcut]\r\nURL=steam://rungameid/1\r\n"
                   "IconFile=C:\\Games\\Game\\game.exe\r\nIconIndex=0\r\n";
        }
        if (command.find("Hollow Knight") != std::string::npos) {
            Build(home / "Games/Hollow Knight/hollow_knight.exe", Shell32());
            fs::copy_file(kBinary + "/samples/viewer.exe", home / "Games/Hollow Knight/unins000.exe");
        }
        if (command.find("cursor-theme") != std::string::npos) {
            // Cursors under the system's identifiers (32512 the arrow, 32513 the text
            // beam), a program's own cursor (120), and a pack folder and a cursor file.
            mb::ModuleBuilder user32;
            mb::addCursorGroup(user32, ResId::number(32512), 1, {{32, 32, 32}}, mb::pictures::arrow(), 3, 2);
            mb::addCursorGroup(user32, ResId::number(32513), 2, {{32, 32, 32}}, mb::pictures::rings(), 15, 15);
            Build(home / ".wine/drive_c/windows/system32/user32.dll", user32);
            mb::ModuleBuilder app;
            mb::addCursorGroup(app, ResId::number(120), 1, {{48, 48, 32}}, mb::pictures::rings(), 24, 24);
            Build(work / "app.dll", app);
            WriteBytes(work / "pack/arrow.cur", mb::makeCursorFile(32, 32, 32, 3, 2, mb::pictures::arrow()));
            WriteBytes(home / "hand.cur", mb::makeCursorFile(32, 32, 32, 9, 1, mb::pictures::arrow()));
        }
        if (command.find("glass-cursors") != std::string::npos)
            WriteBytes(home / "Downloads/glass-cursors/arrow.cur",
                       mb::makeCursorFile(32, 32, 32, 3, 2, mb::pictures::arrow()));
    }

    harvix::testing::ProgramRun Shell(const fs::path& env, const std::string& command) {
        const std::vector<std::string> vars{
            "HOME=" + (env / "home").string(),
            "XDG_CONFIG_HOME=" + (env / "home/.config").string(),
            "HARVIX_REGISTRY=" + (env / "registry.sqlite3").string(),
            "PATH=" + kBinary + "/cli:" + kBinary + "/app/window:/usr/bin:/bin",
            "QT_QPA_PLATFORM=offscreen",
        };
        const std::string script = "cd '" + (env / "work").string() + "' && " + command;
        return harvix::testing::RunProgram("/bin/sh", {"-c", script}, env, vars);
    }

    fs::path root;
};

// The documents are read as they are: nothing to run would mean the collector is broken.
TEST_F(DocExamples, TheDocumentsHoldExamples) {
    const std::vector<Example> examples = CollectExamples();
    EXPECT_GE(examples.size(), 30u);
    const auto has = [&](const std::string& command) {
        return std::any_of(examples.begin(), examples.end(),
                           [&](const Example& e) { return e.command == command; });
    };
    // A man page's example over two lines, joined, and one with a comment after it.
    EXPECT_TRUE(has("harvix-cli extract --kinds icon,cursor --mask '*.dll' --no-subfolders "
                    "--dest ~/Resources ~/.wine/drive_c/windows"));
    EXPECT_TRUE(has("harvix-cli version notepad.exe"));
    // A whole command written in a paragraph; a command and option named in one is none.
    EXPECT_TRUE(has("harvix-cli settings Satellites=0 Language=de-DE"));
    EXPECT_FALSE(has("harvix-cli extract --png"));
    EXPECT_FALSE(has("harvix-cli list --format json"));
    for (const auto& [command, reason] : kNotRun)
        EXPECT_TRUE(has(command)) << "listed as not run, but no document holds it: " << command;
}

TEST_F(DocExamples, EveryExampleRunsAndDoesWhatItSays) {
    const std::vector<Example> examples = CollectExamples();
    int number = 0;
    for (const Example& example : examples) {
        SCOPED_TRACE(example.where + ": " + example.command);
        if (kNotRun.count(example.command) != 0) {
            std::cout << "[ not run  ] " << example.where << ": " << example.command << "\n";
            continue;
        }
        std::cout << "[ example  ] " << example.where << ": " << example.command << "\n";
        ASSERT_FALSE(example.inPipeline)
            << "a stage of a longer command: run it whole in a test, or list it in kNotRun";
        const fs::path env = Prepare("example-" + std::to_string(++number));
        const fs::path home = env / "home", work = env / "work";
        PrepareFor(env, example.command);
        // The settings the wizard would have saved: one folder, a destination of its own.
        ASSERT_EQ(Shell(env, "harvix-cli settings SearchSystem=0 'Folder=" +
                                 (home / ".wine/drive_c/windows/system32").string() +
                                 "' 'DestPath=" + (home / "Saved").string() + "'")
                      .status,
                  0);
        // Pictures extracted before, for the examples that convert them.
        if (example.command.find("Icons/") != std::string::npos ||
            example.command.find("Bitmaps/") != std::string::npos) {
            ASSERT_EQ(Shell(env, "harvix-cli extract --yes --dest . ./shell32.dll").status, 0);
        }
        if (example.command.find("~/Resources/") != std::string::npos) {
            ASSERT_EQ(Shell(env, "harvix-cli extract --dest ~/Resources ./programs").status, 0);
        }

        std::string command = example.command;
        command = ReplaceWord(command, "DIR", (home / ".wine/drive_c/windows/system32").string());
        command = ReplaceWord(command, "OUT", "out");
        const std::string windows = (env / "mnt/windows").string();
        for (std::size_t at = command.find("/mnt/windows"); at != std::string::npos;
             at = command.find("/mnt/windows", at + windows.size()))
            command.replace(at, 12, windows);

        // The files the example names that are not there yet are what it writes.
        std::vector<fs::path> outputs;
        std::istringstream words(command);
        for (std::string word; words >> word;) {
            word.erase(std::remove(word.begin(), word.end(), '\''), word.end());
            const fs::path named = work / word;
            const std::string extension = named.extension().string();
            if ((extension == ".png" || extension == ".ico" || extension == ".json") &&
                !fs::exists(named) && word.find('*') == std::string::npos)
                outputs.push_back(named);
        }

        const harvix::testing::ProgramRun run = Shell(env, example.setup + command);
        EXPECT_EQ(run.status, 0) << "stdout:\n" << run.out << "stderr:\n" << run.err;
        for (const fs::path& output : outputs)
            EXPECT_TRUE(fs::is_regular_file(output) && fs::file_size(output) > 0)
                << output << " was not written";
        // What each command says it does, where it shows.
        static const std::regex kDest(R"(--dest\s+(\S+))");
        std::smatch dest;
        const bool extracts = command.find("harvix-cli extract") != std::string::npos;
        if (extracts && std::regex_search(command, dest, kDest)) {
            std::string folder = dest[1];
            if (StartsWith(folder, "~/"))
                folder = (home / folder.substr(2)).string();
            else if (folder.front() != '/')
                folder = (work / folder).string();
            EXPECT_TRUE(fs::exists(fs::path(folder) / "__index.txt")) << folder;
            if (command.find("--png") != std::string::npos) {
                EXPECT_TRUE(fs::is_directory(fs::path(folder) / "PNG")) << folder;
            }
        }
        if (command.find("--saved") != std::string::npos) {
            EXPECT_TRUE(fs::exists(home / "Saved/__index.txt"));
        }
        if (command.find("harvix-cli list") != std::string::npos ||
            command.find("harvix-cli version") != std::string::npos ||
            command.find("harvix-cli png") != std::string::npos) {
            EXPECT_FALSE(run.out.empty());
        }
        if (command.find("harvix-cli png") != std::string::npos) {
            std::istringstream written(run.out);
            for (std::string path; std::getline(written, path);)
                EXPECT_TRUE(fs::exists(fs::path(path).is_absolute() ? fs::path(path) : work / path))
                    << path;
        }
        static const std::regex kTheme(R"(--theme\s+(\S+)\s+--name\s+(\S+))");
        std::smatch theme;
        if (std::regex_search(command, theme, kTheme)) {
            std::string folder = theme[1];
            if (StartsWith(folder, "~/"))
                folder = (home / folder.substr(2)).string();
            int icons = 0;
            if (fs::is_directory(folder))
                for (const auto& entry : fs::recursive_directory_iterator(folder))
                    icons += entry.path().filename() == theme[2].str() + ".png" ? 1 : 0;
            EXPECT_GT(icons, 0) << "no " << theme[2] << ".png in " << folder;
        }
    }
    EXPECT_GT(number, 0);
}

} // namespace
} // namespace harvix::test
