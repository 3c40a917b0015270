#include "xml/XmlDocument.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/text.h"
#include "support/sandbox.h"

namespace {

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::Sandbox;
using testsupport::WriteFile;

constexpr char kDeclaration[] = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\r\n";

// The tree-file layout: a folder "docs" holding "a.txt", and a file "b&c".
std::unique_ptr<XmlDocument> TreeDocument() {
    auto doc = std::make_unique<XmlDocument>();
    XmlElement* root = doc->SetRoot(std::make_unique<XmlElement>(nullptr, "Orvane"));
    auto item = [](XmlElement* parent, int isFile, const char* name, const char* hash,
                   const char* node, const char* path, std::int64_t size) {
        XmlElement* e = parent->AddChild("fileitem");
        e->AddVariable("iF", isFile);
        e->AddVariable("t", name);
        e->AddVariable("h", hash);
        e->AddVariable("N", node);
        e->AddVariable("P", path);
        e->AddVariable("F", size);
        return e;
    };
    XmlElement* docs = item(root, 0, "docs", "", "", "\\docs", 0);
    item(docs, 1, "a.txt", "0cc175b9c0f1b6a831c399e269772661", "n1", "\\docs\\a.txt", 12345678901);
    item(root, 1, "b&c", "", "", "\\b&c", 4);
    return doc;
}

const std::string kTreeBytes = std::string(kDeclaration) +
    "<Orvane>\r\n"
    "\t<fileitem iF=\"0\" t=\"docs\" h=\"\" N=\"\" P=\"\\docs\" F=\"0\">\r\n"
    "\t\t<fileitem iF=\"1\" t=\"a.txt\" h=\"0cc175b9c0f1b6a831c399e269772661\" N=\"n1\" "
    "P=\"\\docs\\a.txt\" F=\"12345678901\"/>\r\n"
    "\t</fileitem>\r\n"
    "\t<fileitem iF=\"1\" t=\"b&amp;c\" h=\"\" N=\"\" P=\"\\b&amp;c\" F=\"4\"/>\r\n"
    "</Orvane>\r\n";

std::vector<std::string> NamesOf(const XmlElement& e) {
    std::vector<std::string> names;
    for (std::size_t i = 0; i < e.VariableCount(); ++i) names.push_back(e.Variable(i)->GetName());
    return names;
}

// Files of a folder whose names contain `part`.
std::vector<std::string> FilesContaining(const fs::path& folder, const std::string& part) {
    std::vector<std::string> found;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec))
        if (entry.path().filename().string().find(part) != std::string::npos)
            found.push_back(entry.path().filename().string());
    return found;
}

class XmlFiles : public ::testing::Test {
protected:
    Sandbox sandbox;
    fs::path dir = sandbox.Dir("data");
    std::string PathOf(const std::string& name) const { return (dir / name).string(); }
};

// ------------------------------------------------------------------ layout

TEST_F(XmlFiles, TreeDocumentIsWrittenByteExactAndReadsBack) {
    const std::string path = PathOf("Tracer.txt");
    ASSERT_TRUE(TreeDocument()->Save(path));
    EXPECT_EQ(ReadFile(path), kTreeBytes);
    EXPECT_TRUE(FilesContaining(dir, ".tmp-").empty());

    XmlDocument loaded(path);
    EXPECT_EQ(loaded.GetParseStatus(), XmlDocument::kLoaded);
    ASSERT_TRUE(loaded.IsValid());
    XmlElement* root = loaded.Root();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->GetName(), "Orvane");
    ASSERT_EQ(root->ChildCount(), 2u);
    const XmlElement* docs = root->Child(0);
    EXPECT_EQ(NamesOf(*docs), (std::vector<std::string>{"iF", "t", "h", "N", "P", "F"}));
    ASSERT_EQ(docs->ChildCount(), 1u);
    const XmlElement* a = docs->Child(0);
    EXPECT_EQ(a->Parent(), docs);
    EXPECT_EQ(a->FindVariable("P")->GetValue(), "\\docs\\a.txt");
    EXPECT_EQ(a->FindVariable("F")->GetValueInt64(), 12345678901);
    EXPECT_EQ(root->Child(1)->FindVariable("t")->GetValue(), "b&c");

    // Writing the loaded document again gives the same bytes.
    std::string again;
    ASSERT_TRUE(loaded.SaveToBuffer(again));
    EXPECT_EQ(again, kTreeBytes);
}

TEST(XmlLayout, EmptyRootIsOneLine) {
    XmlDocument doc;
    doc.SetRoot(std::make_unique<XmlElement>(nullptr, "Orvane"));
    std::string text;
    ASSERT_TRUE(doc.SaveToBuffer(text));
    EXPECT_EQ(text, std::string(kDeclaration) + "<Orvane/>\r\n");

    XmlElement one(nullptr, "UserInfo");
    one.AddVariable("UserName", "bob");
    std::string line;
    ASSERT_TRUE(one.Export(line, 1));
    EXPECT_EQ(line, "\t<UserInfo UserName=\"bob\"/>\r\n");
}

TEST(XmlLayout, AttributeOrderIsKeptAsWrittenAndAsRead) {
    auto e = XmlElement::Parse(nullptr, "<Item z=\"1\" a=\"2\" m=\"3\" a2=\"4\"/>");
    ASSERT_TRUE(e);
    EXPECT_EQ(NamesOf(*e), (std::vector<std::string>{"z", "a", "m", "a2"}));
    e->AddVariable("b", "5");
    e->InsertVariable(0, std::make_unique<XmlVariable>("first", "0"));
    std::string text;
    ASSERT_TRUE(e->Export(text, 0));
    EXPECT_EQ(text, "<Item first=\"0\" z=\"1\" a=\"2\" m=\"3\" a2=\"4\" b=\"5\"/>\r\n");
}

TEST(XmlLayout, TextRecordsKeepTheirPlacesAmongChildren) {
    XmlElement e(nullptr, "e");
    e.AddComment("before");
    e.AddChild("c0");
    e.AddContent("  padded text ");
    e.AddCData("<raw & data>");
    e.AddChild("c1");
    e.AddComment("end");
    std::string text;
    ASSERT_TRUE(e.Export(text, 0));
    const std::string expected =
        "<e>\r\n"
        "\t<!--before-->\r\n"
        "\t<c0/>\r\n"
        "\t&#32;&#32;padded text&#32;\r\n"
        "\t<![CDATA[<raw & data>]]>\r\n"
        "\t<c1/>\r\n"
        "\t<!--end-->\r\n"
        "</e>\r\n";
    EXPECT_EQ(text, expected);

    auto back = XmlElement::Parse(nullptr, text);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->GetContentText(0), "  padded text ");
    EXPECT_EQ(back->CData(0)->Text(), "<raw & data>");
    std::string again;
    ASSERT_TRUE(back->Export(again, 0));
    EXPECT_EQ(again, expected);

    // A child inserted before c1 keeps the records that stood before c1 in front of it.
    back->InsertChild(1, std::make_unique<XmlElement>(nullptr, "new"));
    back->RemoveChild(0);
    std::string edited;
    ASSERT_TRUE(back->Export(edited, 0));
    EXPECT_EQ(edited,
              "<e>\r\n\t<!--before-->\r\n\t&#32;&#32;padded text&#32;\r\n"
              "\t<![CDATA[<raw & data>]]>\r\n\t<new/>\r\n\t<c1/>\r\n\t<!--end-->\r\n</e>\r\n");
}

TEST(XmlLayout, IndentationFollowsTheElementsSetting) {
    XmlElement e(nullptr, "e");
    e.SetIndent(true, 2);
    e.AddChild("c")->SetIndent(true, 2);
    std::string text;
    ASSERT_TRUE(e.Export(text, 1));
    EXPECT_EQ(text, "  <e>\r\n    <c/>\r\n  </e>\r\n");
}

// ---------------------------------------------------------------- entities

TEST(XmlEntities, EncodingAlwaysEscapesTheAmpersand) {
    struct Case {
        const char* value;
        const char* stored;
    } cases[] = {
        {"a<b&c\"\"", "a&lt;b&amp;c&quot;&quot;"},
        {"a&#38;b", "a&amp;#38;b"},
        {"it's > 0", "it&apos;s &gt; 0"},
        {"&amp;", "&amp;amp;"},
        {"plain", "plain"},
    };
    for (const Case& c : cases) {
        XmlVariable v("name", c.value);
        EXPECT_EQ(v.EncodedValue(), c.stored) << c.value;
        EXPECT_EQ(v.GetValue(), c.value);
        EXPECT_EQ(EncodeEntities(c.value, nullptr), std::string(c.stored).size());
    }
}

TEST(XmlEntities, DecodingHandlesNamedAndNumericReferences) {
    struct Case {
        const char* encoded;
        const char* decoded;
    } cases[] = {
        {"&lt;&gt;&quot;&apos;&amp;", "<>\"'&"},
        {"&#x4E2D;", "\xE4\xB8\xAD"},
        {"&#20013;", "\xE4\xB8\xAD"},
        {"&#65;&#x42;", "AB"},
        {"&#xD83D;&#xDE00;", "\xF0\x9F\x98\x80"},
        {"&#x1F600;", "\xF0\x9F\x98\x80"},
        // Not decodable: kept as written.
        {"&#xD83D;", "&#xD83D;"},
        {"&#0;", "&#0;"},
        {"&#;", "&#;"},
        {"&#x110000;", "&#x110000;"},
        {"&#12", "&#12"},
        {"&bogus; a&b &", "&bogus; a&b &"},
    };
    for (const Case& c : cases) EXPECT_EQ(DecodeEntities(c.encoded), c.decoded) << c.encoded;
}

TEST_F(XmlFiles, ValuesRoundTripThroughAFile) {
    const std::vector<std::string> values = {
        "a<b&c\"\"", "a&#38;b", "&#x4E2D;", "\xE4\xB8\xAD\xE6\x96\x87", "line1\r\nline2",
        "tab\there", " edges ", "", "'single'",
    };
    XmlDocument doc;
    XmlElement* root = doc.SetRoot(std::make_unique<XmlElement>(nullptr, "Orvane"));
    for (const std::string& v : values) root->AddChild("Item")->AddVariable("File", v);
    const std::string path = PathOf("history.txt");
    ASSERT_TRUE(doc.Save(path));
    EXPECT_NE(ReadFile(path).find("a&amp;#38;b"), std::string::npos);

    XmlDocument back(path);
    ASSERT_EQ(back.GetParseStatus(), XmlDocument::kLoaded);
    ASSERT_EQ(back.Root()->ChildCount(), values.size());
    for (std::size_t i = 0; i < values.size(); ++i)
        EXPECT_EQ(back.Root()->Child(i)->Variable(0)->GetValue(), values[i]);
}

TEST(XmlEntities, HandWrittenValuesAreKeptReadable) {
    // A bare '&' and a '"' inside single quotes are written back well-formed.
    auto e = XmlElement::Parse(nullptr, "<e a='say \"hi\"' b=\"x&y\"/>");
    ASSERT_TRUE(e);
    EXPECT_EQ(e->FindVariable("a")->GetValue(), "say \"hi\"");
    EXPECT_EQ(e->FindVariable("b")->GetValue(), "x&y");
    std::string text;
    ASSERT_TRUE(e->Export(text, 0));
    EXPECT_EQ(text, "<e a=\"say &quot;hi&quot;\" b=\"x&amp;y\"/>\r\n");
}

TEST(XmlVariables, GetInt64ReadsCIntegers) {
    const std::pair<const char*, std::int64_t> cases[] = {
        {"12345678901", 12345678901}, {"-5", -5}, {"0x10", 16}, {"010", 8}, {" 42", 42},
        {"12abc", 12}, {"abc", 0}, {"", 0}, {"9223372036854775807", INT64_MAX},
    };
    for (const auto& [text, value] : cases) EXPECT_EQ(XmlVariable("F", text).GetInt64(), value) << text;
    XmlVariable v("F", "x");
    v.SetValue(std::int64_t{-12345678901});
    EXPECT_EQ(v.EncodedValue(), "-12345678901");
}

TEST(XmlElements, ArraysGrowByTwenty) {
    XmlElement e(nullptr, "e");
    EXPECT_EQ(e.VariableCapacity(), 20u);
    EXPECT_EQ(e.ChildCapacity(), 20u);
    EXPECT_EQ(e.GrowVariables(), 20u);
    for (int i = 0; i < 20; ++i) e.AddVariable("v" + std::to_string(i), std::int64_t{i});
    EXPECT_EQ(e.VariableCapacity(), 20u);
    EXPECT_EQ(e.GrowVariables(), 20u);  // full: grown to 40, 20 free
    e.AddVariable("v20", std::int64_t{20});
    EXPECT_EQ(e.VariableCapacity(), 40u);
    EXPECT_EQ(e.VariableCount(), 21u);
    EXPECT_EQ(e.Variable(20)->GetName(), "v20");
    EXPECT_EQ(e.Variable(20)->Owner(), &e);
    for (int i = 0; i < 21; ++i) e.AddChild("c");
    EXPECT_EQ(e.ChildCapacity(), 40u);
}

TEST(XmlElements, UnwritableTextsAreRefusedNotWrittenBroken) {
    XmlElement e(nullptr, "e");
    EXPECT_EQ(e.AddComment("a-->b"), nullptr);
    EXPECT_EQ(e.AddCData("x]]>y"), nullptr);
    EXPECT_EQ(e.AddContent(std::string("a\0b", 3)), nullptr);
    std::string text;
    struct Case {
        const char* what;
        std::function<void(XmlElement&)> spoil;
    } cases[] = {
        {"blank in element name", [](XmlElement& x) { x.SetName("two words"); }},
        {"empty element name", [](XmlElement& x) { x.SetName(""); }},
        {"slash in variable name", [](XmlElement& x) { x.AddVariable("a/b", "1"); }},
        {"zero byte in value", [](XmlElement& x) { x.AddVariable("a", std::string("1\0" "2", 3)); }},
    };
    for (const Case& c : cases) {
        XmlDocument doc;
        c.spoil(*doc.SetRoot(std::make_unique<XmlElement>(nullptr, "Orvane"))->AddChild("x"));
        std::string out = "untouched";
        EXPECT_FALSE(doc.SaveToBuffer(out)) << c.what;
        EXPECT_EQ(out, "untouched") << c.what;
    }
}

TEST(XmlElements, ParseTakesExactlyOneElement) {
    auto e = XmlElement::Parse(nullptr, "<a x=\"1\"><b/>text</a>");
    ASSERT_TRUE(e);
    EXPECT_EQ(e->GetName(), "a");
    EXPECT_EQ(e->ChildCount(), 1u);
    EXPECT_EQ(e->GetContentText(0), "text");
    EXPECT_TRUE(e->IsValid());
    for (const char* bad : {"<a/><b/>", "not xml", "<a>", "<a></b>", ""})
        EXPECT_FALSE(XmlElement::Parse(nullptr, bad)) << bad;
    XmlElement nameless(nullptr, "");
    EXPECT_FALSE(nameless.IsValid());
}

// ----------------------------------------------------------------- loading

TEST_F(XmlFiles, MissingOrEmptyFileGivesAnEmptyRoot) {
    WriteFile(dir / "empty.txt", "");
    for (const char* name : {"missing.txt", "empty.txt"}) {
        XmlDocument doc(PathOf(name));
        EXPECT_EQ(doc.GetParseStatus(), XmlDocument::kLoaded) << name;
        ASSERT_NE(doc.Root(), nullptr);
        EXPECT_EQ(doc.Root()->GetName(), "root");
        EXPECT_EQ(doc.Root()->ChildCount(), 0u);
        EXPECT_EQ(doc.Header().Declaration(), XmlHeader::kDefaultDeclaration);
        EXPECT_TRUE(doc.KeptAsidePath().empty());
    }
    EXPECT_TRUE(fs::exists(dir / "empty.txt"));
}

TEST_F(XmlFiles, IncompleteDocumentsGetStatusOne) {
    WriteFile(dir / "nodecl.txt", "<Orvane><UserInfo UserName=\"a\"/></Orvane>");
    XmlDocument noDeclaration(PathOf("nodecl.txt"));
    EXPECT_EQ(noDeclaration.GetParseStatus(), XmlDocument::kIncomplete);
    EXPECT_EQ(noDeclaration.Header().Declaration(), XmlHeader::kDefaultDeclaration);
    EXPECT_EQ(noDeclaration.Root()->ChildCount(), 1u);

    WriteFile(dir / "declonly.txt", kDeclaration);
    XmlDocument noElement(PathOf("declonly.txt"));
    EXPECT_EQ(noElement.GetParseStatus(), XmlDocument::kIncomplete);
    EXPECT_EQ(noElement.Root()->GetName(), "root");
    EXPECT_TRUE(noElement.KeptAsidePath().empty());
}

TEST_F(XmlFiles, TruncatedOrMalformedFileIsKeptAsideAndTreatedAsMissing) {
    const std::string cuts[] = {
        kTreeBytes.substr(0, 20),                         // inside the declaration
        kTreeBytes.substr(0, kTreeBytes.size() / 2),      // inside an element
        kTreeBytes.substr(0, kTreeBytes.size() - 11),     // the root's end tag missing
        std::string(kDeclaration) + "<Orvane><a></b></Orvane>\r\n",  // mismatched tags
        std::string(kDeclaration) + "<Orvane/><Orvane/>\r\n",        // two roots
        std::string(kDeclaration) + "<Orvane a=1/>\r\n",             // unquoted value
    };
    for (const std::string& bytes : cuts) {
        const std::string path = PathOf("Tracer.txt");
        WriteFile(path, bytes);
        XmlDocument doc(path);
        EXPECT_EQ(doc.GetParseStatus(), XmlDocument::kParseError) << bytes;
        ASSERT_NE(doc.Root(), nullptr);
        EXPECT_EQ(doc.Root()->ChildCount(), 0u);
        EXPECT_TRUE(doc.IsValid());
        ASSERT_FALSE(doc.KeptAsidePath().empty()) << bytes;
        EXPECT_FALSE(fs::exists(path));
        EXPECT_EQ(ReadFile(doc.KeptAsidePath()), bytes);
        EXPECT_EQ(doc.KeptAsidePath().rfind(path + ".bad-", 0), 0u);
    }
    // Each bad file got its own side name; none was overwritten.
    EXPECT_EQ(FilesContaining(dir, "Tracer.txt.bad-").size(), std::size(cuts));
}

TEST_F(XmlFiles, ByteOrderMarkAndHeaderItemsAreRead) {
    const std::string text = "\xEF\xBB\xBF" + std::string(kDeclaration) +
                             "<!DOCTYPE Orvane>\r\n<!--made by hand-->\r\n<Orvane/>\r\n<!--after-->\r\n";
    WriteFile(dir / "h.txt", text);
    XmlDocument doc(PathOf("h.txt"));
    ASSERT_EQ(doc.GetParseStatus(), XmlDocument::kLoaded);
    EXPECT_EQ(doc.Header().DocType(), "DOCTYPE Orvane");
    EXPECT_EQ(doc.Header().CommentsBefore(), std::vector<std::string>{"made by hand"});
    EXPECT_EQ(doc.Header().CommentsAfter(), std::vector<std::string>{"after"});
    std::string again;
    ASSERT_TRUE(doc.SaveToBuffer(again));
    EXPECT_EQ(again, text.substr(3));  // written without the mark
}

TEST_F(XmlFiles, Utf16PathsAreConvertedAtTheEdge) {
    const std::u16string path = plat::ToUtf16(PathOf("\xE5\x90\x8C\xE6\xAD\xA5.txt"));
    ASSERT_TRUE(TreeDocument()->Save(path));
    EXPECT_EQ(ReadFile(dir / "\xE5\x90\x8C\xE6\xAD\xA5.txt"), kTreeBytes);
    XmlDocument doc(path);
    EXPECT_TRUE(doc.WideNames());
    EXPECT_EQ(doc.GetParseStatus(), XmlDocument::kLoaded);
    EXPECT_EQ(doc.Root()->ChildCount(), 2u);
    EXPECT_FALSE(doc.Save(std::u16string(u"/bad\xD800name")));
}

// ------------------------------------------------------------------ saving

TEST_F(XmlFiles, FailedSaveIsReportedAndLeavesTheOldFile) {
    WriteFile(dir / "plainfile", "x");
    fs::create_directories(dir / "target-is-folder");
    struct Case {
        const char* what;
        std::string path;
    } cases[] = {
        {"folder missing", PathOf("no-such-account/Tracer.txt")},
        {"parent is a file", PathOf("plainfile/Tracer.txt")},
        {"target is a folder", PathOf("target-is-folder")},
        {"read-only file system", "/proc/dravik-xml-test.txt"},
        {"no path", ""},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(TreeDocument()->Save(c.path)) << c.what;
    }
    EXPECT_TRUE(fs::is_directory(dir / "target-is-folder"));
    EXPECT_TRUE(FilesContaining(dir, ".tmp-").empty());
    EXPECT_FALSE(XmlDocument().Save());  // a document without a path
}

TEST_F(XmlFiles, SaveIntoReadOnlyFolderFailsAndKeepsTheFile) {
    const fs::path folder = sandbox.Dir("readonly");
    const std::string path = (folder / "UserInfo.txt").string();
    WriteFile(path, "old");
    ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
    const bool restricted = ::access(folder.c_str(), W_OK) != 0;
    const bool saved = TreeDocument()->Save(path);
    ::chmod(folder.c_str(), 0755);
    if (!restricted) GTEST_SKIP() << "permissions do not restrict this user (root)";
    EXPECT_FALSE(saved);
    EXPECT_EQ(ReadFile(path), "old");
    EXPECT_TRUE(FilesContaining(folder, ".tmp-").empty());
}

TEST_F(XmlFiles, SaveReplacesTheWholeFile) {
    const std::string path = PathOf("Server.txt");
    WriteFile(path, std::string(100000, 'x'));
    ASSERT_TRUE(TreeDocument()->Save(path));
    EXPECT_EQ(ReadFile(path), kTreeBytes);
    EXPECT_TRUE(FilesContaining(dir, ".tmp-").empty());
}

TEST_F(XmlFiles, SaveOnCloseWritesBackToTheOwnPath) {
    const std::string path = PathOf("state.txt");
    {
        XmlDocument doc(path, true);
        doc.SetRoot(std::make_unique<XmlElement>(nullptr, "Orvane"))->AddChild("Item");
    }
    EXPECT_EQ(ReadFile(path), std::string(kDeclaration) + "<Orvane>\r\n\t<Item/>\r\n</Orvane>\r\n");

    XmlDocument plain(path);
    plain.Root()->AddChild("More");
    EXPECT_TRUE(plain.Close());
    EXPECT_EQ(plain.Root(), nullptr);
    EXPECT_EQ(ReadFile(path), std::string(kDeclaration) + "<Orvane>\r\n\t<Item/>\r\n</Orvane>\r\n");
}

TEST(XmlSave, TransformSeesTheWholeText) {
    struct Upper : XmlTextTransform {
        std::size_t Transform(std::string_view text, std::string& out) override {
            out.assign(text);
            for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            out += "ignored tail";
            return text.size();
        }
    } upper;
    XmlDocument doc;
    doc.SetRoot(std::make_unique<XmlElement>(nullptr, "a"));
    std::string text;
    ASSERT_TRUE(doc.SaveToBuffer(text, &upper));
    EXPECT_EQ(text, "<?XML VERSION=\"1.0\" ENCODING=\"UTF-8\" STANDALONE=\"YES\" ?>\r\n<A/>\r\n");
}

// --------------------------------------------------------- other exports

TEST(XmlExport, KeysAndValuesNumberContentsAndCDataTogether) {
    struct Keys : XmlKeyTarget {
        std::map<std::string, std::string> values;
        bool SetString(const std::vector<std::string>& path, const std::string& name,
                       const std::string& value) override {
            std::string key;
            for (const auto& p : path) key += p + "/";
            values[key + name] = value;
            return true;
        }
    } keys;
    XmlElement e(nullptr, "e");
    e.AddVariable("a", "x&y");
    e.AddComment("note");
    e.AddContent("text");
    e.AddCData("raw");
    e.AddChild("c")->AddVariable("b", "1");
    ASSERT_TRUE(e.Export(keys));
    EXPECT_EQ(keys.values, (std::map<std::string, std::string>{
                               {"Va", "x&y"}, {"C0", "note"}, {"D0", "text"}, {"D1", "raw"},
                               {"E0/Vb", "1"}}));
}

TEST_F(XmlFiles, UnloadedChildrenAreWrittenFromTheirFilesAndCleanedUpOnClose) {
    const std::string path = PathOf("big.txt");
    auto doc = TreeDocument();
    ASSERT_TRUE(doc->Save(path));
    XmlDocument loaded(path);
    XmlElement* root = loaded.Root();
    ASSERT_TRUE(loaded.UnloadChild(*root, 0));
    const fs::path temp = dir / "big.txt.0.xmltmp";
    EXPECT_TRUE(fs::exists(temp));
    EXPECT_TRUE(root->Child(0)->IsUnloaded());
    EXPECT_EQ(root->Child(0)->ChildCount(), 0u);

    std::string text;
    ASSERT_TRUE(loaded.SaveToBuffer(text));
    EXPECT_EQ(text, kTreeBytes);

    ASSERT_TRUE(root->ReloadChild(0));
    EXPECT_FALSE(root->Child(0)->IsUnloaded());
    ASSERT_EQ(root->Child(0)->ChildCount(), 1u);
    EXPECT_EQ(root->Child(0)->Child(0)->Parent(), root->Child(0));
    EXPECT_EQ(root->Child(0)->Child(0)->FindVariable("t")->GetValue(), "a.txt");

    ASSERT_TRUE(loaded.UnloadChild(*root->Child(0), 0));
    EXPECT_TRUE(fs::exists(dir / "big.txt.0-0.xmltmp"));
    loaded.Close();
    EXPECT_TRUE(FilesContaining(dir, ".xmltmp").empty());
    XmlElement parent(nullptr, "p");
    parent.AddChild("c");
    EXPECT_FALSE(XmlDocument().UnloadChild(parent, 0));  // no file to put it beside
}

// ------------------------------------------------------------------ nesting

// `depth` elements, each inside the one before.
std::string Nested(std::size_t depth) {
    std::string text;
    for (std::size_t i = 0; i < depth; ++i) text += "<e>";
    for (std::size_t i = 0; i < depth; ++i) text += "</e>";
    return text;
}

TEST(XmlNesting, TextsNestedBeyondTheLimitAreParseErrorsNotCrashes) {
    struct Case {
        const char* name;
        std::string text;
        bool parses;
        bool oneElement = true;  // nothing but one element (what XmlElement::Parse takes)
    };
    std::string flat = "<r><!--";  // markup that does not nest, however much of it
    for (int i = 0; i < 10000; ++i) flat += "<e>";
    flat += "--><![CDATA[";
    for (int i = 0; i < 10000; ++i) flat += "<e>";
    flat += "]]>";
    for (int i = 0; i < 10000; ++i) flat += "<e a=\"<e>\" b='/>'/><?pi <e>?>";
    flat += "</r>";
    const Case cases[] = {
        {"at the limit", Nested(XmlDocument::kMaxNesting), true},
        {"one level beyond", Nested(XmlDocument::kMaxNesting + 1), false},
        {"a hostile state file", Nested(100000), false},
        {"unclosed", std::string(100000, '<') + std::string(100000, 'e'), false},
        {"opened only", [] {
             std::string text;
             for (int i = 0; i < 100000; ++i) text += "<e>";
             return text;
         }(), false},
        {"wide but flat", flat, true},
        {"a DOCTYPE subset holds no elements",
         "<!DOCTYPE r [" + std::string(10000, '[') + "<e>" + std::string(10000, ']') + "]>" + Nested(3), true, false},
    };
    for (const Case& c : cases) {
        XmlDocument doc;
        EXPECT_EQ(doc.LoadFromText(std::string(kDeclaration) + c.text), c.parses) << c.name;
        EXPECT_EQ(doc.GetParseStatus(), c.parses ? XmlDocument::kLoaded : XmlDocument::kParseError) << c.name;
        EXPECT_EQ(XmlElement::Parse(nullptr, c.text) != nullptr, c.parses && c.oneElement) << c.name;
    }
}

TEST(XmlNesting, AnyDepthIsWrittenWithBoundedIndentationAndDestroyed) {
    constexpr std::size_t kDepth = 100000;
    XmlDocument doc;
    XmlElement* element = doc.SetRoot(std::make_unique<XmlElement>(nullptr, "r"));
    for (std::size_t i = 0; i < kDepth; ++i) {
        element = element->AddChild("e");
        element->AddVariable("i", static_cast<std::int64_t>(i));
    }
    element->AddContent("leaf");
    ASSERT_TRUE(doc.Root()->IsValid());

    std::string text;
    ASSERT_TRUE(doc.SaveToBuffer(text));
    // Every line holds at most kMaxIndentLevels tabs: the text grows with the depth only.
    std::vector<std::size_t> indents;
    for (std::size_t at = text.find("\r\n") + 2; at < text.size(); at = text.find("\r\n", at) + 2)
        indents.push_back(text.find_first_not_of('\t', at) - at);
    ASSERT_EQ(indents.size(), 2 * (kDepth + 1) + 1);
    for (std::size_t level = 0; level < indents.size(); ++level) {
        const std::size_t nesting = std::min(level, indents.size() - 1 - level);  // open, leaf, close
        ASSERT_EQ(indents[level], std::min<std::size_t>(nesting, XmlElement::kMaxIndentLevels)) << level;
    }
    EXPECT_LT(text.size(), (kDepth + 1) * 2 * (XmlElement::kMaxIndentLevels + 32));

    struct Count : XmlKeyTarget {
        std::size_t values = 0;
        bool SetString(const std::vector<std::string>&, const std::string&, const std::string&) override {
            ++values;
            return true;
        }
    } keys;
    ASSERT_TRUE(doc.Root()->Export(keys));
    EXPECT_EQ(keys.values, kDepth + 1);
}

TEST(XmlNesting, CappedIndentationReadsBackTheSameTree) {
    const std::size_t depth = XmlElement::kMaxIndentLevels + 10;
    XmlDocument doc;
    XmlElement* element = doc.SetRoot(std::make_unique<XmlElement>(nullptr, "r"));
    for (std::size_t i = 0; i < depth; ++i) element = element->AddChild("e");
    element->AddVariable("v", "deep");
    std::string text;
    ASSERT_TRUE(doc.SaveToBuffer(text));
    XmlDocument back;
    ASSERT_TRUE(back.LoadFromText(text));
    const XmlElement* walk = back.Root();
    for (std::size_t i = 0; i < depth; ++i) {
        ASSERT_EQ(walk->ChildCount(), 1u) << i;
        walk = walk->Child(0);
    }
    EXPECT_EQ(walk->FindVariable("v")->GetValue(), "deep");
    std::string again;
    ASSERT_TRUE(back.SaveToBuffer(again));
    EXPECT_EQ(again, text);
}

}  // namespace
