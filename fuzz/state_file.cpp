// The sync program's XML state files: a text parsed by the XML library and read as a tree
// file ("Tracer.txt", "Server.txt", "Driver.txt"), the user list ("UserInfo.txt") and the
// history ("history.txt"); a document that parses is written again and must parse again.
#include <vector>

#include "FuzzTarget.h"
#include "sync/app/UserRoutine.h"
#include "sync/common/TreeNode.h"
#include "xml/XmlDocument.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    XmlDocument doc;
    doc.LoadFromText(fuzz::Text(data, size));
    if (doc.Root() == nullptr || !doc.IsValid() || doc.GetParseStatus() == XmlDocument::kParseError) return 0;
    FileNode tree(SyncFileInfo("Tracer"));
    UserRoutine::ReadTreeFile(*doc.Root(), tree, 1);
    std::vector<CurrentUser> users;
    UserRoutine::ReadUserInfoFile(*doc.Root(), users);
    std::vector<SyncDoneItem> history;
    UserRoutine::ReadHistoryFile(*doc.Root(), history);

    std::string text;
    if (!doc.SaveToBuffer(text)) return 0;
    XmlDocument again;
    if (!again.LoadFromText(text) || again.Root() == nullptr) fuzz::Fail("a written document does not parse");
    return 0;
}
