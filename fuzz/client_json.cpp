// The client's readers of the web API's JSON replies: user information, folder listings,
// group roots, item replies, created folders and reply messages, and the ordering of
// created folders. Every reader must refuse or read any body without a fault.
#include <string>
#include <vector>

#include "FuzzTarget.h"
#include "client/core/HttpClient.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string body(fuzz::Text(data, size));
    ServerUserInfo user;
    HttpClient::ParseUserInfo(body, user);
    CloudListing listing;
    HttpClient::ParseListing(body, "/MyDocument", listing);
    CloudListing groups;
    HttpClient::ParseGroupRoots(body, "/Groups", groups);
    CloudItem item;
    HttpClient::ParseItemReply(body, item);
    std::vector<CloudItem> created;
    HttpClient::ParseCreatedFolders(body, created);
    std::string message;
    HttpClient::ParseReplyMessage(body, message);
    std::vector<CreatedFolderEntry> entries;
    for (const CloudItem& folder : created) entries.push_back({folder.nodeRef, folder.parentRef, folder.name, {}});
    const auto ordered = HttpClient::OrderParentsFirst(entries);
    if (ordered.size() > entries.size()) fuzz::Fail("ordering added entries");
    return 0;
}
