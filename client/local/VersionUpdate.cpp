#include "client/local/VersionUpdate.h"

#include <log4cpp/Category.hh>

#include <algorithm>

#include "client/core/ClientFiles.h"
#include "client/core/ClientLog.h"
#include "client/core/XmlSupport.h"
#include "updatesite/VersionPage.h"
#include "platform/fileops.h"

namespace {
constexpr const char* kUpdateFolderName = "WindowsClientApplication";
constexpr const char* kSkipFileName = "SkipVersions.xml";
}  // namespace

VersionUpdate::VersionUpdate(Options options)
    : options_(std::move(options)), localVersion_(ShortVersionText(options_.fileVersion)) {}

VersionUpdate::~VersionUpdate() {
    download_.Cancel();
    download_.Join();
}

std::string VersionUpdate::UpdateFolder() const { return plat::fs::Join(options_.baseFolder, kUpdateFolderName); }

std::string VersionUpdate::SkipFilePath() const { return plat::fs::Join(UpdateFolder(), kSkipFileName); }

// ---------------------------------------------------------------------- decision

std::optional<int> VersionUpdate::Decide() {
    std::string failure;
    const std::string version = GetServerVersion(options_.updateSite, options_.pageTimeout, &failure);
    if (version.empty() && !failure.empty()) LogClientInfo("<version> The download page could not be read: " + failure);
    return Decide(version);
}

std::optional<int> VersionUpdate::Decide(const std::string& serverVersion) {
    serverVersion_ = serverVersion;
    if (serverVersion_.empty()) {
        ClientLog().debug("<version> Get windows client version info failed!");
        return EndNoServerVersion;
    }
    LogClientInfo("<version> local version = " + localVersion_ + " server version = " + serverVersion_);
    if (CompareVersionTexts(localVersion_, serverVersion_) >= 0 && options_.automatic) return EndNothingToDo;
    if (IsSkipVersion()) {
        ClientLog().debug("<version> server version = " + serverVersion_ + "--- Is skip version");
        return EndNothingToDo;
    }
    ShowOffer();
    return std::nullopt;
}

void VersionUpdate::ShowOffer() {
    const bool newer = CompareVersionTexts(localVersion_, serverVersion_) < 0;
    state_ = options_.automatic || newer ? StateOffer : StateLatest;
}

VersionUpdate::View VersionUpdate::GetView() const {
    View view;
    switch (state_) {
        case StateOffer:
            view.headline = true;
            view.notUpdateButton = true;
            view.skipBox = options_.automatic;
            view.headlineKey = "New version detected:";
            view.headlineVersion = serverVersion_;
            view.updateButtonKey = "Update";
            break;
        case StateLatest:
            view.headline = true;
            view.headlineKey = "The current version is the latest version.";
            view.updateButtonKey = "OK";  // the only button closes the notice
            break;
        case StateDownloading:
            view.status = true;
            view.progress = true;
            view.updateButtonKey = "Cancel update";
            break;
    }
    return view;
}

// ----------------------------------------------------------------------- buttons

int VersionUpdate::OnNotUpdate(bool skipTicked) {
    if (options_.automatic && skipTicked) AddSkipVersion();
    return EndNothingToDo;
}

std::optional<int> VersionUpdate::OnUpdate(plat::WindowId window) {
    switch (state_) {
        case StateDownloading: return OnCloseRequest();
        case StateLatest: return EndNothingToDo;
        case StateOffer: break;
    }
    state_ = StateDownloading;
    LogClientInfo("<version> Begin download new version");
    InstallerDownload::Request request;
    request.url = InstallerUrl(options_.updateSite);
    request.folder = UpdateFolder();
    request.noDataLimit = options_.noDataLimit;
    download_.Start(std::move(request), window);
    return std::nullopt;
}

std::optional<int> VersionUpdate::OnCloseRequest() {
    if (state_ != StateDownloading) return EndNothingToDo;
    // The end comes with the download's result, which no longer counts as a success.
    cancelledByUser_ = true;
    download_.Cancel();
    return std::nullopt;
}

std::optional<int> VersionUpdate::OnDownloadResult(int result) {
    switch (result) {
        case InstallerDownloaded:
        case InstallerFolderFailed:
        case InstallerFileFailed:
        case InstallerTransferFailed:
        case InstallerCancelled: break;
        default: return std::nullopt;
    }
    download_.Join();
    if (cancelledByUser_) return EndNothingToDo;
    switch (result) {
        case InstallerDownloaded:
            installerPath_ = download_.InstallerPath();
            return installerPath_.empty() ? std::optional<int>(EndDownloadFailed) : std::optional<int>(EndInstallerReady);
        case InstallerFolderFailed:
        case InstallerFileFailed: return EndFileOccupied;
        case InstallerTransferFailed:
            ClientLog().debug("<version> Download install file failed!");
            return EndDownloadFailed;
        default: return EndNothingToDo;
    }
}

// --------------------------------------------------------------------- skip list

bool VersionUpdate::IsSkipVersion() {
    if (!options_.automatic) return false;
    std::string text;
    if (ReadWholeFile(SkipFilePath(), text) != FileRead::Read) {
        ClientLog().debug("<version> Open \"SkipVersions.xml\" file failed!");
        return false;
    }
    xmlsupport::ParsedXml xml;
    rapidxml::xml_node<>* root = xml.Parse(text) ? xml.Root(nullptr) : nullptr;
    if (root == nullptr) {
        ClientLog().debug("<version> Parsing \"SkipVersions.xml\" file failed!");
        return false;
    }
    skipped_.clear();
    for (rapidxml::xml_node<>* child = root->first_node(); child != nullptr; child = child->next_sibling()) {
        if (child->type() == rapidxml::node_element) skipped_.push_back(xmlsupport::ValueOf(child));
    }
    return std::find(skipped_.begin(), skipped_.end(), serverVersion_) != skipped_.end();
}

bool VersionUpdate::AddSkipVersion() {
    if (std::find(skipped_.begin(), skipped_.end(), serverVersion_) != skipped_.end()) return true;
    skipped_.push_back(serverVersion_);
    if (!plat::fs::MakeDirectories(UpdateFolder())) return false;

    rapidxml::xml_document<> doc;
    xmlsupport::StartDocument(doc);
    rapidxml::xml_node<>* root = doc.allocate_node(rapidxml::node_element, "SkipVersions");
    doc.append_node(root);
    for (const std::string& version : skipped_) {
        root->append_node(doc.allocate_node(rapidxml::node_element, "version", xmlsupport::Keep(doc, version)));
    }
    return WriteFileReplacing(SkipFilePath(), xmlsupport::Print(doc), 0644);
}
