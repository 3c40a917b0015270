#pragma once
// The client's settings record and its file "Config.xml".
#include <cstdint>
#include <string>
#include <string_view>

#include "updatesite/VersionPage.h"

class Config {
public:
    // The server address offered at login when nothing else is configured.
    static constexpr const char* kDefaultServerAddress = "https://cloud.dravik.com";
    // The update site whose "/download.html" the version check reads, when nothing else
    // is configured.
    static constexpr const char* kDefaultUpdateSite = kDefaultUpdateSiteAddress;
    static constexpr const char* kFileName = "Config.xml";

    // How a text read as a configuration.
    enum class ReadResult {
        Complete,    // all eight settings read
        Incomplete,  // our document, but a setting is missing; those before it are in force
        NotConfig,   // not well-formed, or no "DravikClient" root: nothing read
    };

    Config() = default;

    std::string GetDefaultDomainName() const { return DefaultDomainName; }
    std::string GetDefaultLanguageCode() const { return DefaultLanguageCode; }

    // The range of the listing refresh interval in seconds.
    static constexpr std::uint32_t kListIntervalLow = 1, kListIntervalHigh = 300;
    // 0 stores 1; anything else at most 300 (compared unsigned).
    void SetListInterval(std::uint32_t v);
    // 0 or less stores 1, above 10 stores 10.
    void SetTransferCount(std::int32_t v);

    // The whole document, as the XML printer writes it (tab indentation). Returns 1.
    int ToXml(std::string& out) const;
    // Reads a document; true when all eight settings were read.
    bool FromXml(std::string_view text) { return Read(text) == ReadResult::Complete; }
    ReadResult Read(std::string_view text);

    std::string DefaultDomainName = kDefaultServerAddress;
    bool EnabledAdvanceLogin = true;
    std::string DefaultLanguageCode = "zh-CN";
    std::uint32_t FreshCloudDirectoryListInterval = 5;
    bool FreshCloudDirectoryUsePage = true;
    std::uint32_t FreshCloudDirectoryPageSize = 200;
    std::int32_t TransFileNumberAtSameTime = 6;
    std::int32_t EditFileNumberAtSameTime = 5;
    // The update site. Read from the element "UpdateSiteAddress" when the file has one;
    // written only when it differs from the default, so a default file holds the eight
    // settings alone.
    std::string UpdateSiteAddress = kDefaultUpdateSite;
    // A PEM file of the authorities that https servers are checked against instead of the
    // system's. Read from the element "CaFile" when the file has one; written only when set.
    std::string CaFile;
    // Redraw step of edit-transfer progress in the cloud browser (at most one redraw per
    // 10 x this many 100 ns ticks). Not part of the file.
    std::int32_t EditProgressRedrawStep = 500;
};

// Reads "Config.xml" into `config`; true when all eight settings were read. A missing or
// empty file reads nothing. Anything at the path that is not a configuration (not
// well-formed, another root, a folder) is moved aside (SetFileAside) and treated as
// missing; the caller then writes the record back with SaveConfigFile.
bool LoadConfigFile(const std::string& path, Config& config);
// Writes the record through a temporary file and a rename (mode 0644). True when written.
bool SaveConfigFile(const std::string& path, const Config& config);
