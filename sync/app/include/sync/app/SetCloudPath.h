#pragma once
// Choosing the local cloud-drive folder of an account: the folder dialog shown at a
// login whose account has no usable folder (CSetCloudPath, a model that the dialog binds
// and the headless chooser drives), and the checks of a folder picked to replace the
// current one. Message boxes and the folder browser are reached through interfaces whose
// headless implementations log a box and cancel a choice.
//
// Folders are UTF-16 here (what the dialog shows); the known accounts keep them as UTF-8.
// Two folders are the same only when their texts are equal (a trailing '/' aside): the
// file systems here tell letter cases apart.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sync/common/UserRecord.h"

// ------------------------------------------------------------------ message boxes

enum class BoxIcon { None, Information, Warning };

// A box to show: its text and caption are language keys, translated when shown; a "%s"
// in the translated text is replaced by `argument` (FormatKeyText).
struct BoxMessage {
    std::u16string textKey;
    std::u16string argument;
    std::u16string captionKey;  // empty: the program's own caption
    BoxIcon icon = BoxIcon::None;
};

class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    // Shows the box with an OK button and returns when it is closed.
    virtual void Show(const BoxMessage& message) = 0;
};

// Without a display: the box is written to the log.
class LoggingMessageBoxes : public MessageBoxes {
public:
    void Show(const BoxMessage& message) override;
};

// The text with its first "%s" replaced by `argument` (no other formatting: texts from
// the language table never act as a format).
std::u16string FormatKeyText(std::u16string_view text, std::u16string_view argument);

// ------------------------------------------------------------------- folder dialog

// The dialog that settles an account's folder. It proposes a folder below the user's
// documents folder that no other known account uses; Browse lets the user take another
// (refusing unusable or taken folders with a box); Cancel returns to the proposal. The
// result is Folder() however the dialog ended.
class CSetCloudPath {
public:
    enum Mode : std::int32_t { kFolderGone = 0, kFirstLogin = 1 };

    // `account` is UTF-8; `documentsFolder` is the user's documents folder (UTF-8).
    CSetCloudPath(std::string account, std::int32_t mode, std::vector<CurrentUser> knownUsers,
                  std::string documentsFolder);

    // What the dialog does when it opens: proposes a folder when none is set yet.
    void Init();

    // Language keys of the dialog's texts. The prompt is shown with four blanks in front.
    static constexpr std::u16string_view kCaptionKey = u"指定路径";
    static constexpr std::u16string_view kOkKey = u"确定";
    static constexpr std::u16string_view kBrowseKey = u"选择存储位置...";
    static constexpr std::u16string_view kBrowseTitleKey = u"请选择云盘目录：";
    std::u16string_view PromptKey() const;

    // The folder the user picked in the folder browser (none when the browser was
    // cancelled). A usable folder that no other known account uses becomes the folder
    // (true); otherwise a box says why and nothing changes (false).
    bool Browse(const std::optional<std::u16string>& picked, MessageBoxes& boxes);
    // Cancel (or the close box): the folder becomes the proposal again.
    void Cancel();

    const std::string& Account() const { return account_; }
    std::int32_t GetMode() const { return mode_; }
    const std::u16string& Proposal() const { return proposal_; }
    const std::u16string& Folder() const { return folder_; }
    void SetFolder(std::u16string folder) { folder_ = std::move(folder); }

private:
    std::string account_;
    std::int32_t mode_;
    std::vector<CurrentUser> knownUsers_;
    std::string documentsFolder_;
    std::u16string proposal_;
    std::u16string folder_;
};

// Where the dialog and the folder browser come from: Qt dialogs with a display, the
// headless chooser without one.
class FolderChooser {
public:
    virtual ~FolderChooser() = default;
    // Runs the folder dialog until it ends; the caller then reads dialog.Folder().
    virtual void RunSetCloudPath(CSetCloudPath& dialog) = 0;
    // Runs the folder browser with the title key, starting at `startFolder`; the folder
    // picked, or none when it was cancelled.
    virtual std::optional<std::u16string> BrowseForFolder(std::u16string_view titleKey,
                                                          const std::u16string& startFolder) = 0;
};

// Without a display: the dialog takes its proposal (as Cancel does), the browser is
// cancelled.
class HeadlessFolderChooser : public FolderChooser {
public:
    void RunSetCloudPath(CSetCloudPath& dialog) override;
    std::optional<std::u16string> BrowseForFolder(std::u16string_view titleKey,
                                                  const std::u16string& startFolder) override;
};

// ------------------------------------------------------------------ folder checks

// The known account other than `account` (names compared byte for byte) that uses
// `folder`; none when no other account does.
std::optional<std::string> OtherUserOfFolder(std::string_view folder, std::string_view account,
                                             const std::vector<CurrentUser>& knownUsers);
// Whether two folder texts name the same folder (equal, a trailing '/' aside).
bool SameFolder(std::string_view a, std::string_view b);

// The folder proposed to `account`: documents folder + "/Nuvet云盘/" + account, with
// "(1)", "(2)"... appended until no other known account uses it.
std::u16string ProposeSyncFolder(const std::string& documentsFolder, const std::string& account,
                                 const std::vector<CurrentUser>& knownUsers);

// The verdict on a folder picked to replace the account's current folder.
struct FolderChange {
    enum Verdict {
        kNoChange,   // cancelled, or the current folder again
        kInvalid,    // not usable as a sync folder: box "无效路径", then ask again
        kTaken,      // another known account uses it: box naming it, then ask again
        kNewFolder,  // change to `folder`
    };
    Verdict verdict = kNoChange;
    std::u16string folder;
    std::string otherUser;  // kTaken: the account that uses the folder
};
FolderChange CheckFolderChange(const std::optional<std::u16string>& picked, const std::u16string& currentFolder,
                               const std::string& account, const std::vector<CurrentUser>& knownUsers);
// Shows the box of a kInvalid or kTaken verdict; true when the choice is to be asked again.
bool ReportFolderRefusal(const FolderChange& change, MessageBoxes& boxes);

// The keys of those boxes.
inline constexpr std::u16string_view kInvalidFolderKey = u"无效路径";
inline constexpr std::u16string_view kFolderTakenKey = u"当前目录已经被%s占用，请重新选择目录";
inline constexpr std::u16string_view kWarningCaptionKey = u"警告提示";
