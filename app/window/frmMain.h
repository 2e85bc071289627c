#pragma once
// frmMain: the wizard window as it is created: seven stacked page frames, the header
// band, the watermark strip and the bottom band with the navigation buttons, every
// control at its place with its caption, font, colours and initial state. The page
// changes and everything the controls do later are bound by the wizard's own code
// through Controls(); nothing here moves or re-lays out anything after creation.

#include "common/AppTitle.h"
#include "controls/CommonControls.h"
#include "controls/Light3D.h"
#include "controls/Shape.h"
#include "controls/animation/cAnimation.h"

#include <QCheckBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <array>
#include <memory>

namespace harvix {

// Every control of the window, by its name. The pointers are owned by the window.
struct frmMainControls {
    static constexpr int kPageCount = 7;

    // Bottom band.
    QWidget* fraBottomBack = nullptr;
    QPushButton* cmdBack = nullptr;
    QPushButton* cmdNext = nullptr;
    QPushButton* cmdCancel = nullptr;
    Light3D* l3dBottomLine = nullptr;

    // Watermark strip (shown over the left part of the last page).
    QWidget* fraWatermark = nullptr;
    QLabel* lblContact = nullptr;
    QLabel* lblCopyright = nullptr;
    QLabel* imgWatermark = nullptr;

    // The pages; the index is the page number.
    std::array<QWidget*, kPageCount> fraScreen{};

    // Header band of pages 1 to 5.
    QWidget* fraScreenHdr = nullptr;
    Light3D* l3dTopLine = nullptr;
    QLabel* imgLogo = nullptr;
    QLabel* lblScrnSubTitle = nullptr;
    QLabel* lblScrnTitle = nullptr;

    // Page 0, welcome.
    QLabel* Label5 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* imgWizard = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;

    // Page 1, search mode.
    QLabel* Label6 = nullptr;
    QRadioButton* optSearchSystem = nullptr;
    QRadioButton* optSearchFolder = nullptr;
    QLineEdit* txtFolder = nullptr;
    QPushButton* cmdBrowse = nullptr;
    QCheckBox* chkSubFolders = nullptr;
    QCheckBox* chkContainers = nullptr;
    QPushButton* cmdAdvanced = nullptr;
    QGroupBox* fraMask = nullptr;
    QLabel* Label8 = nullptr;
    QLineEdit* txtMask = nullptr;
    QGroupBox* fraPerformance = nullptr;
    Slider* sldAccel = nullptr;
    QLabel* lblPriority = nullptr;

    // Page 2, resource kinds.
    QLabel* Label7 = nullptr;
    ListView* lvResTypes = nullptr;
    ImageList* ilResTypes = nullptr;
    QLabel* lblLimitsHint = nullptr; // below the list: how a row's limits are changed

    // Page 3, destination.
    QLabel* Label9 = nullptr;
    QLineEdit* txtDestPath = nullptr;
    QPushButton* cmdBrowseDest = nullptr;

    // Page 4, ready.
    QLabel* Label10 = nullptr;
    QCheckBox* chkUnique = nullptr;  // each picture written once
    QLabel* lblUniqueHint = nullptr; // below it: what becomes of a copy

    // Page 5, search in progress.
    cAnimation* aniAnim = nullptr;
    QLabel* lblStatus = nullptr;
    Light3D* l3dProgressBack = nullptr;
    ProgressBar* prbProgress = nullptr;
    Light3D* l3dCenterLine = nullptr;
    ListView* lvResStats = nullptr;

    // Page 6, finished.
    QLabel* Label20 = nullptr;
    QLabel* Label19 = nullptr;
    QLabel* Label18 = nullptr;
    QPushButton* cmdShowFolder = nullptr;
    Shape* shpButtonFrame = nullptr;
    QLabel* lblSummary = nullptr; // what the run did, filled when the page is entered
};

class frmMain : public QDialog {
    Q_OBJECT
public:
    // The application title (the one of AppTitle.h): the window caption and the title
    // of every message box.
    static constexpr const char* kAppTitle = harvix::kAppTitle;
    // The client area, 7470 x 5400 twips.
    static constexpr int kClientWidth = 498;
    static constexpr int kClientHeight = 360;
    // The dynamic property that holds a control's position in the keyboard order (0
    // first). Frames and labels carry one too, although they take no focus; images and
    // the shape have none.
    static constexpr const char* kTabIndexProperty = "TabIndex";
    // The text colour of the credit lines on the wizard picture.
    static constexpr QRgb kCreditColour = 0xFF595959;

    explicit frmMain(QWidget* parent = nullptr);
    ~frmMain() override;

    [[nodiscard]] const frmMainControls& Controls() const { return m_controls; }

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void CreateBottomBand();
    void CreateWatermark();
    void CreatePage0();
    void CreatePage1(QWidget* page);
    void CreatePage2(QWidget* page);
    void CreatePage3(QWidget* page);
    void CreatePage4(QWidget* page);
    void CreatePage5(QWidget* page);
    void CreatePage6();
    void CreateHeader();
    void FillImageList();
    void ApplyTabOrder();

    frmMainControls m_controls;
    std::unique_ptr<ImageList> m_images;
    QStyle* m_style; // owned as a child: the option buttons' indicator and focus marks
    bool m_centred = false;
};

} // namespace harvix
