#pragma once
// One saved account of the sync program: the current user and each entry of the
// known-accounts list (most recently used first). Texts are UTF-8 bytes.
#include <cstdint>
#include <string>

struct CurrentUser {
    std::string UserName;
    std::string PassWord;  // never written to the log
    std::string Path;      // the account's sync folder
    std::uint32_t AutoLogin = 0;
    std::uint32_t MemoPassWord = 0;
};
