#pragma once
// Why a commit item failed, as the failed page shows it. Each reason is a key of the
// program's language table (resources/orvane/language/language.ini, which holds its text
// in every language); a key with "%d" shows the reason's number (an HTTP status, a
// network error code).
#include <cstdint>

struct FailReason {
    const char* key = nullptr;  // null: nothing known yet
    std::int64_t code = 0;
};

namespace failreason {
// The server's side.
inline constexpr const char* kServerRefused = "服务器拒绝了请求 (HTTP %d)";
inline constexpr const char* kServerCallFailed = "服务器操作失败";
inline constexpr const char* kNoAnswer = "服务器没有及时应答";
inline constexpr const char* kUnreachable = "无法连接服务器";
inline constexpr const char* kCertificate = "服务器证书被拒绝";
inline constexpr const char* kBadReply = "服务器应答无效";
inline constexpr const char* kNetwork = "网络错误 %d";
// The local disk.
inline constexpr const char* kDiskFull = "磁盘已满";
inline constexpr const char* kFileWrite = "无法写入本地文件";
inline constexpr const char* kFileRead = "无法读取本地文件";
inline constexpr const char* kPermission = "没有权限";
inline constexpr const char* kReadOnly = "磁盘只读";
inline constexpr const char* kNameTooLong = "名称过长";
inline constexpr const char* kDiskFailed = "本地磁盘操作失败";
inline constexpr const char* kNameRefused = "该名称不能用于本地磁盘";
inline constexpr const char* kLinkOnWay = "路径中有链接或特殊文件";
inline constexpr const char* kLocalChanged = "本地文件已更改且无法另存";
inline constexpr const char* kUnsynced = "文件夹中有从未同步的项目";
// The trees.
inline constexpr const char* kNameTaken = "同名项目已存在";
inline constexpr const char* kItemChanged = "项目在同步期间已改变";
inline constexpr const char* kFailed = "操作失败";
}  // namespace failreason

// The reason of a failed server call from its status (ServerCallResult::status).
FailReason ServerCallFailReason(std::uint32_t status);
// The reason of a failed disk operation from its errno value (0: unknown).
FailReason DiskFailReason(int error);
