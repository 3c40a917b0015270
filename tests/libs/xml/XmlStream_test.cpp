#include "xml/XmlStream.h"

#include <filesystem>
#include <functional>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "support/sandbox.h"
#include "xml/XmlDocument.h"

namespace {

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::Sandbox;
using testsupport::WriteFile;

using Elements = std::function<void(XmlElementSink&)>;

// The bytes XmlDocument::Save writes for `elements` under the root "Orvane", and the
// bytes the stream writer writes for the same calls.
std::string SavedThroughTree(const Elements& elements, const std::string& path) {
    XmlDocument doc;
    XmlElement* root = doc.SetRoot(std::make_unique<XmlElement>(nullptr, "Orvane"));
    XmlTreeBuilder builder(*root);
    elements(builder);
    EXPECT_TRUE(doc.Save(path));
    return ReadFile(path);
}

std::string Streamed(const Elements& elements, const std::string& path) {
    XmlStreamWriter out;
    EXPECT_TRUE(out.Begin(path));
    out.Open("Orvane");
    elements(out);
    out.Close();
    EXPECT_TRUE(out.Finish());
    return ReadFile(path);
}

void Item(XmlElementSink& out, const std::string& name, std::int64_t size, const std::function<void()>& inside = {}) {
    out.Open("fileitem");
    out.Variable("iF", static_cast<std::int64_t>(inside ? 0 : 1));
    out.Variable("t", name);
    out.Variable("h", "0cc175b9c0f1b6a831c399e269772661");
    out.Variable("N", "");
    out.Variable("P", "\\x\\" + name);
    out.Variable("F", size);
    if (inside) inside();
    out.Close();
}

// Deeply nested folders (past the indentation cap), names needing every entity, text
// outside ASCII, negative and large numbers, empty folders, and a random wide tree: the
// streamed file is the document writer's file byte for byte, so the files it writes read
// back exactly as before.
TEST(XmlStream, WritesWhatTheDocumentWriterWrites) {
    Sandbox box;
    const fs::path dir = box.Dir("s");
    const std::vector<std::pair<const char*, Elements>> cases = {
        {"empty root", [](XmlElementSink&) {}},
        {"entities and text", [](XmlElementSink& out) {
             Item(out, "a&b<c>\"d'e", -5);
             Item(out, "云盘 ü", 12345678901234);
             Item(out, "empty folder", 0, [] {});
         }},
        {"deep", [](XmlElementSink& out) {
             std::function<void(int)> nest = [&](int level) {
                 if (level == 90) return Item(out, "leaf", 1);
                 Item(out, "d" + std::to_string(level), 0, [&] { nest(level + 1); });
             };
             nest(0);
         }},
        {"random wide tree", [](XmlElementSink& out) {
             std::mt19937 random(7);
             std::function<void(int)> fill = [&](int level) {
                 const int count = static_cast<int>(random() % 6);
                 for (int i = 0; i < count; ++i) {
                     if (level < 4 && random() % 3 == 0)
                         Item(out, "f" + std::to_string(i), 0, [&] { fill(level + 1); });
                     else
                         Item(out, "n" + std::to_string(random()), static_cast<std::int64_t>(random()));
                 }
             };
             for (int i = 0; i < 400; ++i) fill(0);
         }},
    };
    for (const auto& [name, elements] : cases) {
        const std::string expected = SavedThroughTree(elements, (dir / "tree.txt").string());
        EXPECT_TRUE(Streamed(elements, (dir / "stream.txt").string()) == expected) << name;
    }
    XmlDocument back((dir / "stream.txt").string());
    EXPECT_EQ(back.GetParseStatus(), XmlDocument::kLoaded);
}

// Records every start and end it is handed.
class Recorder final : public XmlElementVisitor {
public:
    std::string seen;
    void Start(std::string_view name, const std::vector<XmlNameValue>& variables) override {
        seen += "<" + std::string(name);
        for (const auto& [n, v] : variables) seen += " " + n + "=" + v;
        seen += ">";
    }
    void End() override { seen += "</>"; }
};

// The writer's layout is read element by element with the same names and decoded values
// the document reader gives; any other layout is left to the document reader untouched.
TEST(XmlStream, ReadsTheWritersLayoutAndLeavesAnyOtherToTheDocumentReader) {
    Sandbox box;
    const fs::path dir = box.Dir("l");
    const Elements elements = [](XmlElementSink& out) {
        Item(out, "a&b<c>\"d'e 云", -5);
        Item(out, "folder", 0, [&] { Item(out, "inner", 3); });
    };
    const std::string text = Streamed(elements, (dir / "s.txt").string());
    Recorder fast;
    ASSERT_EQ(ReadWriterLayout(text, fast), XmlLayoutRead::kRead);
    XmlDocument doc((dir / "s.txt").string());
    Recorder tree;
    VisitElements(*doc.Root(), tree);
    EXPECT_EQ(fast.seen, tree.seen);
    EXPECT_NE(fast.seen.find("t=a&b<c>\"d'e 云"), std::string::npos);

    const std::string declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\" ?>\r\n";
    const std::vector<std::string> others = {
        "",
        "\xEF\xBB\xBF" + text,
        declaration + "<!-- c --><Orvane/>",
        declaration + "<Orvane>text</Orvane>",
        declaration + "<Orvane a='1'/>",
        declaration + "<Orvane a=\"1\"  b=\"2\"/>",
        declaration + "<Orvane><a></b></Orvane>",
        declaration + "<Orvane><a>",
        declaration + "<Orvane/><Second/>",
        declaration + "<Orvane a=\"<\"/>",
        declaration + "<Orvane><![CDATA[x]]></Orvane>",
        declaration + std::string(XmlDocument::kMaxNesting + 1, '<').replace(1, std::string::npos, "") +
            [] {
                std::string nested;
                for (std::size_t i = 0; i <= XmlDocument::kMaxNesting; ++i) nested += "<a>";
                return nested;
            }(),
        std::string("<?xml version=\"1.0\"?>\r\n<Orvane/>"),
    };
    for (const std::string& other : others) {
        Recorder recorder;
        EXPECT_EQ(ReadWriterLayout(other, recorder), XmlLayoutRead::kOtherLayout) << other.substr(0, 90);
        EXPECT_EQ(recorder.seen, "") << "nothing is handed over before the whole text is checked";
    }
}

// What the document writer refuses fails the whole streamed file: the old file stays and
// no temporary is left.
TEST(XmlStream, RefusedTextsOrUnclosedElementsLeaveTheOldFile) {
    Sandbox box;
    const fs::path dir = box.Dir("r");
    const std::string path = (dir / "state.txt").string();
    const std::vector<std::pair<const char*, Elements>> cases = {
        {"NUL in a value", [](XmlElementSink& out) { Item(out, std::string("a\0b", 3), 1); }},
        {"bad element name", [](XmlElementSink& out) { out.Open("two words"); out.Close(); }},
        {"bad variable name", [](XmlElementSink& out) { out.Open("x"); out.Variable("a b", "v"); out.Close(); }},
        {"variable after a child", [](XmlElementSink& out) {
             out.Open("x");
             Item(out, "c", 1);
             out.Variable("late", "v");
             out.Close();
         }},
        {"left open", [](XmlElementSink& out) { out.Open("x"); }},
        {"closed too often", [](XmlElementSink& out) { out.Close(); }},
    };
    for (const auto& [name, elements] : cases) {
        WriteFile(path, "old");
        XmlStreamWriter out;
        ASSERT_TRUE(out.Begin(path));
        out.Open("Orvane");
        elements(out);
        out.Close();
        EXPECT_FALSE(out.Finish()) << name;
        EXPECT_EQ(ReadFile(path), "old") << name;
        EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1) << name;
    }
    XmlStreamWriter nowhere;
    EXPECT_FALSE(nowhere.Begin((dir / "missing" / "state.txt").string()));
    EXPECT_FALSE(nowhere.Finish());
}

}  // namespace
