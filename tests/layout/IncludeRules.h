#pragma once
// The direction of dependencies between the product's libraries and their tests, as a
// checker of includes. A file belongs to the library of the longest folder prefix that
// names one; a test file to the test folder of that library below tests/ ("tests/sync/net"),
// or to the shared fixtures ("tests/support"). An include names the library of its path's
// prefix, or the including file's own library when it is a sibling file ("ServerImpl.h").
//
// The rules:
// - an edge between libraries is allowed when the table says so;
// - a test folder includes its own library, the libraries that library may include, the
//   test server and tests/support; what a shared fixture includes counts as included by
//   the test that includes the fixture;
// - a test folder never includes another test folder's files (shared ones live in
//   tests/support);
// - a header in a library's source folder (not below its include/) is internal: only
//   that library includes it;
// - the libraries below the windows never include Qt.
// Everything else is a violation, reported with file and line.
#include <string>
#include <vector>

namespace layout {

struct QuotedInclude {
    std::string file;      // path of the including file, relative to the source root
    int line = 0;          // 1-based line of the #include
    std::string target;    // text between the quotes (or the angle brackets)
    bool sibling = false;  // the target exists beside the including file
    std::string resolved;  // the file the include names, relative to the root ("" unknown)
    bool angled = false;   // an <...> include
};

struct Violation {
    std::string file;
    int line = 0;
    std::string target;
    std::string why;
};

// The library a file belongs to ("" when the file is outside every library).
std::string LibraryOfFile(const std::string& file);
// The library an include path names ("" when no library has that prefix).
std::string LibraryOfInclude(const std::string& target);
// Whether library `from` may include library `to`.
bool EdgeAllowed(const std::string& from, const std::string& to);
// Whether a file of `library` may include Qt.
bool QtAllowed(const std::string& library);

std::vector<Violation> Check(const std::vector<QuotedInclude>& includes);

// Every include of the product and test sources (.h, .cpp) below `root`, with the file
// each names where it is found.
std::vector<QuotedInclude> ScanProduct(const std::string& root);

}  // namespace layout
