#pragma once
// The direction of dependencies between the product's libraries, as a checker of quoted
// includes. A file belongs to the library of the longest folder prefix that names one; an
// include names the library of its path's prefix, or the including file's own library
// when it is a sibling file ("ServerImpl.h"). An edge is allowed when the table below says
// so; everything else is a violation, reported with file and line.
#include <string>
#include <vector>

namespace layout {

struct QuotedInclude {
    std::string file;    // path of the including file, relative to the source root
    int line = 0;        // 1-based line of the #include
    std::string target;  // text between the quotes
    bool sibling = false;  // the target exists beside the including file
};

struct Violation {
    std::string file;
    int line = 0;
    std::string target;
    std::string why;
};

// The library a product file belongs to ("" when the file is outside every library).
std::string LibraryOfFile(const std::string& file);
// The library an include path names ("" when no library has that prefix).
std::string LibraryOfInclude(const std::string& target);
// Whether library `from` may include library `to`.
bool EdgeAllowed(const std::string& from, const std::string& to);

std::vector<Violation> Check(const std::vector<QuotedInclude>& includes);

// Every quoted include of the product sources (.h, .cpp) below `root`'s product folders.
std::vector<QuotedInclude> ScanProduct(const std::string& root);

}  // namespace layout
