// The seven pages of the wizard as named values, and what each page sets on the window
// when it is shown: its header texts, the state of Back and Next, the caption of Next
// and the button that Return presses. What a page fills when it is entered and commits
// when it is left are the wizard's own steps (WizardLogic), one pair per page.
#pragma once

#include "app/wizard/WizardTexts.h"
#include "app/wizard/WizardView.h"
#include "run/SearchRun.h"

#include <array>
#include <cstddef>
#include <optional>

namespace harvix {

enum class Page {
    Welcome,
    SearchMode,
    ResourceTypes,
    Destination,
    Ready,
    Search,
    Finished,
};

inline constexpr int kPageCount = 7; // pages 0 to 6
inline constexpr int kLastPage = kPageCount - 1;

// The page's number, its index among the page frames.
[[nodiscard]] constexpr int PageIndex(Page page) {
    return static_cast<int>(page);
}

// The page of a number; nothing for a number outside the pages.
[[nodiscard]] constexpr std::optional<Page> PageAt(int index) {
    if (index < 0 || index > kLastPage)
        return std::nullopt;
    return static_cast<Page>(index);
}

// The run knows the number of the page it runs on (it cancels only there).
static_assert(PageIndex(Page::Search) == kSearchPage);
static_assert(PageIndex(Page::Finished) == kLastPage);
inline constexpr int kFinishedPage = PageIndex(Page::Finished);

// What the page shows above and beside its frame: nothing (the welcome page has its
// own picture), the header band with the page's title, or the picture strip.
enum class PageBand { None, Header, Watermark };

struct PageLayout {
    Page page;
    PageTitle header; // empty on the pages that show no header band
    PageBand band;
    bool backEnabled;
    bool nextEnabled;
    const char* nextCaption;  // nullptr: Next keeps its caption
    WizardControl returnKey;  // the button that Return presses on the page
};

inline constexpr std::array<PageLayout, kPageCount> kPages{{
    {Page::Welcome, {"", ""}, PageBand::None, false, true, kNextCaption, WizardControl::cmdNext},
    {Page::SearchMode,
     {"Search mode", "Specify here where the search should take place."},
     PageBand::Header, true, true, kNextCaption, WizardControl::cmdNext},
    {Page::ResourceTypes,
     {"Resource types", "Check the resource types you are looking for."},
     PageBand::Header, true, true, kNextCaption, WizardControl::cmdNext},
    {Page::Destination,
     {"Destination", "Please choose a destination folder for the resources."},
     PageBand::Header, true, true, kNextCaption, WizardControl::cmdNext},
    {Page::Ready, {"Ready", "Harvix is ready for the search."}, PageBand::Header, true, true,
     kFinishCaption,
     WizardControl::cmdNext},
    // Return during the run presses nothing: Next is off and Cancel asks first.
    {Page::Search,
     {"Search in progress...", "The operation may take several minutes."},
     PageBand::Header, false, false, nullptr, WizardControl::cmdNext},
    {Page::Finished, {"", ""}, PageBand::Watermark, false, false, nullptr,
     WizardControl::cmdCancel},
}};

[[nodiscard]] constexpr const PageLayout& LayoutOf(Page page) {
    return kPages[static_cast<std::size_t>(PageIndex(page))];
}

// The table holds the pages in their order.
constexpr bool PagesInOrder() {
    for (std::size_t i = 0; i < kPages.size(); ++i)
        if (PageIndex(kPages[i].page) != static_cast<int>(i))
            return false;
    return true;
}
static_assert(PagesInOrder());

} // namespace harvix
