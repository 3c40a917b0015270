#include <cstdio>
#include <cstdlib>

#include "FuzzTarget.h"

namespace fuzz {

void Fail(const char* what) {
    std::fprintf(stderr, "fuzz: property broken: %s\n", what);
    std::abort();
}

}  // namespace fuzz
