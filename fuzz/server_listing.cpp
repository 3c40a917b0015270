// The sync program's server listing reader: a reply body of "/allChildNodes" parsed and
// built into a tree as the inventory does, then written as a state file and read back.
// Checks: the reader of the text as it arrives judges and builds as the whole document does,
// the tree read back has as many nodes as the one built (every accepted listing can be saved
// and restored), and a rejected listing leaves the tree untouched.
#include <rapidjson/document.h>

#include <memory>

#include "FuzzTarget.h"
#include "sync/app/UserRoutine.h"
#include "sync/common/TreeNode.h"
#include "sync/net/WebCloud.h"
#include "sync/net/ServerReply.h"
#include "xml/XmlDocument.h"

namespace {

std::size_t CountNodes(FileNode& root) {
    std::size_t count = 0;
    for (auto it = root.BeginPreorder(); it != root.EndPreorder(); ++it) ++count;
    return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string body(fuzz::Text(data, size));
    FileNode tree(SyncFileInfo("Waiter"));
    tree.InsertChild(SyncFileInfo("kept"));
    CWebCloud cloud(&tree);
    // The program reads the reply's text as it arrives, one element at a time; that reader
    // must judge and build exactly as the whole document does.
    FileNode streamed(SyncFileInfo("Waiter"));
    streamed.InsertChild(SyncFileInfo("kept"));
    const int fromText = cloud.BuildServerTreeFromText(body, &streamed, std::string());
    const auto untouched = [](const FileNode& node) {
        return node.children.size() == 1 && (*node.children.begin())->data->name == "kept";
    };
    rapidjson::Document doc;
    if (!webcloud::ParseReply(body, doc)) {
        if (fromText != -1) fuzz::Fail("a text that is not JSON was read as a listing");
        if (!untouched(streamed)) fuzz::Fail("a text that is not JSON changed the tree");
        return 0;
    }
    const int built = cloud.BuildServerTree(doc, &tree, std::string());
    if (fromText != built) fuzz::Fail("the streamed reader and the document judge a listing apart");
    if (CountNodes(streamed) != CountNodes(tree)) fuzz::Fail("the streamed reader built another tree");
    if (built == 0) {
        if (!untouched(tree)) fuzz::Fail("a refused listing changed the tree");
        return 0;
    }
    XmlDocument out;
    XmlElement& root = *out.SetRoot(std::make_unique<XmlElement>(nullptr, "Orvane"));
    UserRoutine::WriteTreeNode(tree, root, 2);
    std::string text;
    if (!out.SaveToBuffer(text)) fuzz::Fail("a built tree cannot be written");
    XmlDocument back;
    if (!back.LoadFromText(text) || back.Root() == nullptr) fuzz::Fail("a written tree does not parse");
    FileNode restored(SyncFileInfo("Tracer"));
    if (UserRoutine::ReadTreeFile(*back.Root(), restored, 1) != 1) fuzz::Fail("a written tree is not read back whole");
    if (CountNodes(restored) != CountNodes(tree)) fuzz::Fail("the tree read back differs in size");
    return 0;
}
