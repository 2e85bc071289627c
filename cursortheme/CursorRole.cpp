#include "cursortheme/CursorRole.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string>
#include <vector>

namespace harvix {

namespace {

using Names = std::string_view;

// The names of each role. The first is the file; the X core names come next, then the
// CSS names (what GTK 3 and 4, Qt 6, Firefox and Chromium ask for), then the hashes
// older Qt and GTK 2 programs ask for. A name is in one role only: where a Windows role
// does not fit (link, copy, drag and drop, the open and closed hand), the name is left to
// the inherited theme.
constexpr Names kArrow[] = {"left_ptr", "default", "arrow", "top_left_arrow", "left-arrow"};
constexpr Names kHelp[] = {"question_arrow", "help", "whats_this", "left_ptr_help",
                           "5c6cd98b3f3ebcb1f9c7f1c204630408", "d9ce0ab605698f320427677b458ad60b"};
constexpr Names kAppStarting[] = {"left_ptr_watch", "progress", "half-busy",
                                  "00000000000000020006000e7e9ffc3f", "08e8e1c95fe2fc01f976f1e063a24ccd",
                                  "3ecb610c1bf2410f44200f48c40d3599", "9116a3ea924ed2162ecab71ba103b17f"};
constexpr Names kWait[] = {"watch", "wait", "clock", "0426c94ea35c87780ff01dc239897213"};
constexpr Names kCrosshair[] = {"crosshair", "cross", "tcross", "cross_reverse", "diamond_cross"};
constexpr Names kIBeam[] = {"xterm", "text", "ibeam"};
constexpr Names kNWPen[] = {"pencil"};
constexpr Names kNo[] = {"crossed_circle", "not-allowed", "no-drop", "forbidden", "circle", "dnd-no-drop",
                         "03b6e0fcb3499374a867c041f52298f0"};
constexpr Names kSizeNS[] = {"sb_v_double_arrow", "ns-resize", "row-resize", "n-resize", "s-resize",
                             "v_double_arrow", "size_ver", "double_arrow", "top_side", "bottom_side",
                             "split_v", "00008160000006810000408080010102", "2870a09082c103050810ffdffffe0204",
                             "c07385c7190e701020ff7ffffd08103c"};
constexpr Names kSizeWE[] = {"sb_h_double_arrow", "ew-resize", "col-resize", "e-resize", "w-resize",
                             "h_double_arrow", "size_hor", "left_side", "right_side", "split_h",
                             "028006030e0e7ebffc7f7070c0600140", "043a9f68147c53184671403ffa811cc5",
                             "14fef782d02440884392942c11205230"};
constexpr Names kSizeNWSE[] = {"bd_double_arrow", "nwse-resize", "nw-resize", "se-resize", "size_fdiag",
                               "top_left_corner", "bottom_right_corner", "c7088f0f3e6c8088236ef8e1e3e70000",
                               "38c5dff7c7b8962045400281044508d2"};
constexpr Names kSizeNESW[] = {"fd_double_arrow", "nesw-resize", "ne-resize", "sw-resize", "size_bdiag",
                               "top_right_corner", "bottom_left_corner", "fcf1c3c7cd4491d801f1e1c78f100000",
                               "50585d75b494802d0151028115016902"};
constexpr Names kSizeAll[] = {"fleur", "move", "all-scroll", "size_all", "fcf21c00b30f7e3f83fe0dfd12e71cff",
                              "4498f0e0c1937ffe01fd06f973665830", "9081237383d90e509aa00f00170e968f"};
constexpr Names kUpArrow[] = {"center_ptr", "up_arrow", "up-arrow"};
constexpr Names kHand[] = {"hand2", "pointer", "hand1", "hand", "pointing_hand", "e29285e634086352946a0e7090d73106",
                           "9d800788f1b08800ae810202380a0822"};
// Windows 10's location and person cursors have no name on Linux: the theme keeps them
// under their Windows names.
constexpr Names kPin[] = {"pin"};
constexpr Names kPerson[] = {"person"};

constexpr std::array<CursorRoleInfo, kCursorRoleCount> kRoles{{
    {CursorRole::Arrow, "Arrow", "Normal Select", 32512, kArrow},
    {CursorRole::Help, "Help", "Help Select", 32651, kHelp},
    {CursorRole::AppStarting, "AppStarting", "Working in Background", 32650, kAppStarting},
    {CursorRole::Wait, "Wait", "Busy", 32514, kWait},
    {CursorRole::Crosshair, "Crosshair", "Precision Select", 32515, kCrosshair},
    {CursorRole::IBeam, "IBeam", "Text Select", 32513, kIBeam},
    {CursorRole::NWPen, "NWPen", "Handwriting", 32631, kNWPen},
    {CursorRole::No, "No", "Unavailable", 32648, kNo},
    {CursorRole::SizeNS, "SizeNS", "Vertical Resize", 32645, kSizeNS},
    {CursorRole::SizeWE, "SizeWE", "Horizontal Resize", 32644, kSizeWE},
    {CursorRole::SizeNWSE, "SizeNWSE", "Diagonal Resize 1", 32642, kSizeNWSE},
    {CursorRole::SizeNESW, "SizeNESW", "Diagonal Resize 2", 32643, kSizeNESW},
    {CursorRole::SizeAll, "SizeAll", "Move", 32646, kSizeAll},
    {CursorRole::UpArrow, "UpArrow", "Alternate Select", 32516, kUpArrow},
    {CursorRole::Hand, "Hand", "Link Select", 32649, kHand},
    {CursorRole::Pin, "Pin", "Location Select", 32671, kPin},
    {CursorRole::Person, "Person", "Person Select", 32672, kPerson},
}};

constexpr bool InRoleOrder() {
    for (std::size_t i = 0; i < kRoles.size(); ++i)
        if (static_cast<std::size_t>(kRoles[i].role) != i)
            return false;
    return true;
}
static_assert(InRoleOrder(), "the role table is in CursorRole order");

bool sameText(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// The words of a file name: split at anything but letters and digits, between a lower
// case letter and a capital ("NormalSelect"), before the last capital of a run followed
// by a small letter ("IBeam"), and between letters and digits ("dgn1"); in lower case.
std::vector<std::string> wordsOf(std::string_view stem) {
    std::vector<std::string> words;
    std::string word;
    auto finish = [&] {
        if (!word.empty())
            words.push_back(word);
        word.clear();
    };
    for (std::size_t i = 0; i < stem.size(); ++i) {
        const auto c = static_cast<unsigned char>(stem[i]);
        if (!std::isalnum(c)) {
            finish();
            continue;
        }
        if (!word.empty()) {
            const auto p = static_cast<unsigned char>(stem[i - 1]);
            const bool next = i + 1 < stem.size() && std::islower(static_cast<unsigned char>(stem[i + 1]));
            if ((std::islower(p) && std::isupper(c)) || (std::isupper(p) && std::isupper(c) && next) ||
                (std::isdigit(p) != 0) != (std::isdigit(c) != 0))
                finish();
        }
        word.push_back(static_cast<char>(std::tolower(c)));
    }
    finish();
    return words;
}

struct Guess {
    CursorRole role;
    std::initializer_list<std::string_view> words;
};

// The words that suggest each role, most particular first: "handwriting" before "hand",
// "help select" before "select", "crossed circle" before "cross".
const Guess kGuesses[] = {
    {CursorRole::NWPen, {"handwriting", "handwrite", "nwpen", "pen", "pencil", "writing"}},
    {CursorRole::Person, {"person"}},
    {CursorRole::Pin, {"pin", "location"}},
    {CursorRole::Help, {"help", "helpsel", "question", "whatsthis"}},
    {CursorRole::AppStarting, {"working", "work", "background", "appstarting", "progress", "halfbusy", "starting"}},
    {CursorRole::Wait, {"busy", "wait", "hourglass", "watch", "loading"}},
    {CursorRole::No, {"unavailable", "unavailiable", "unavail", "no", "forbidden", "notallowed", "crossed",
                      "denied", "nodrop"}},
    {CursorRole::IBeam, {"text", "ibeam", "beam", "xterm"}},
    {CursorRole::Crosshair, {"precision", "precise", "crosshair", "cross", "prec"}},
    {CursorRole::SizeNWSE, {"nwse", "sizenwse", "fdiag"}},
    {CursorRole::SizeNESW, {"nesw", "sizenesw", "bdiag"}},
    {CursorRole::SizeNS, {"vert", "vertical", "ns", "sizens", "ver"}},
    {CursorRole::SizeWE, {"horz", "horiz", "horizontal", "ew", "we", "sizewe", "hor"}},
    {CursorRole::SizeAll, {"move", "sizeall", "fleur", "allscroll"}},
    {CursorRole::UpArrow, {"alternate", "alt", "uparrow", "up"}},
    {CursorRole::Hand, {"link", "hand", "linksel"}},
    {CursorRole::Arrow, {"arrow", "normal", "default", "pointer", "select", "leftptr"}},
};

} // namespace

std::span<const CursorRoleInfo> CursorRoles() {
    return kRoles;
}

const CursorRoleInfo& InfoOf(CursorRole role) {
    return kRoles[static_cast<std::size_t>(role)];
}

std::optional<CursorRole> RoleFromRegistryName(std::string_view name) {
    for (const CursorRoleInfo& info : kRoles)
        if (sameText(info.registryName, name))
            return info.role;
    return std::nullopt;
}

std::optional<CursorRole> GuessRoleFromFileName(std::string_view fileName) {
    std::string_view stem = fileName.substr(fileName.find_last_of("/\\") + 1);
    if (const auto dot = stem.rfind('.'); dot != std::string_view::npos && dot > 0)
        stem = stem.substr(0, dot);
    const std::vector<std::string> words = wordsOf(stem);
    auto has = [&](std::string_view w) { return std::find(words.begin(), words.end(), w) != words.end(); };

    // "Diagonal Resize 1", "dgn1", "diag2": the number tells which diagonal.
    if (has("diagonal") || has("dgn") || has("diag")) {
        if (has("1"))
            return CursorRole::SizeNWSE;
        if (has("2"))
            return CursorRole::SizeNESW;
    }
    for (const Guess& guess : kGuesses)
        for (const std::string_view word : guess.words)
            if (has(word))
                return guess.role;
    // Words run together ("linkselect", "appstarting2"): a telling word of four letters
    // or more inside the name.
    std::string compact;
    for (const std::string& w : words)
        compact += w;
    for (const Guess& guess : kGuesses)
        for (const std::string_view word : guess.words)
            if (word.size() >= 4 && compact.find(word) != std::string::npos)
                return guess.role;
    return std::nullopt;
}

std::optional<CursorRole> RoleFromResourceId(std::uint32_t id) {
    for (const CursorRoleInfo& info : kRoles)
        if (info.resourceId == id)
            return info.role;
    return std::nullopt;
}

} // namespace harvix
