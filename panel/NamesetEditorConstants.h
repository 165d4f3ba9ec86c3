#pragma once

// The fixed names and numbers the panel shares with its layouts and devices.
namespace nameset {

// Panels, sent as their decimal ids, and the layout file of each.
constexpr int kSelectorPanel = 1;
constexpr int kEditorPanel = 2;
constexpr char kSelectorLayout[] = "Selector.tovi_ui";
constexpr char kEditorLayout[] = "NameEdit.tovi_ui";

// Device instance names the host knows.
constexpr char kRouterName[] = "StC SDI Router";
constexpr char kTallyName[] = "CTA Tally Infodriver";
constexpr char kNamesDriverName[] = "StC_UMD_Names_DriverID";

// Tally slots: the displays' brightness and the name set they show.
constexpr int kBrightnessSlot = 211;
constexpr int kNamesetSlot = 212;
constexpr int kLowestBrightness = 1;
constexpr int kHighestBrightness = 3;

// The router's databases read at start-up, and the names infodriver's
// database of the titles of sets 1 to 8.
constexpr int kRouterNamesDatabase = 0;
constexpr int kRouterSecondDatabase = 2;
constexpr int kTitlesDatabase = 9;
constexpr int kFirstEditableSet = 1;
constexpr int kLastEditableSet = 8;
constexpr char kMatrixNamesTitle[] = "Matrix Names";
constexpr char kMvInputNamesTitle[] = "MV Input Names";

// Timer 1 runs the confirm window of a name-set choice: ten ticks of a
// second. Timer 2 runs the take prompt: twenty ticks of half a second.
constexpr int kConfirmTimer = 1;
constexpr int kConfirmInterval = 1000;
constexpr int kConfirmTicks = 10;
constexpr int kTakeTimer = 2;
constexpr int kTakeInterval = 500;
constexpr int kTakeTicks = 20;

// The displays show at most this many characters of a name.
constexpr int kMaxNameLength = 16;

// Statesheets: lit and unlit buttons, and the two phases of the take prompt.
constexpr char kSelected[] = "ZRSourceSelected";
constexpr char kDeselected[] = "ZRSourceDeselected";
constexpr char kTakeLow[] = "ZR_TakeLow";
constexpr char kTakeHigh[] = "ZR_TakeHigh";

// Families of numbered controls; the number is the name's last character.
constexpr char kChoicePrefix[] = "Select_";
constexpr char kBrightnessPrefix[] = "UMDBright_";
constexpr char kSetButtonPrefix[] = "NameSet_";
constexpr char kTitleLabelPrefix[] = "Names_";

}  // namespace nameset
