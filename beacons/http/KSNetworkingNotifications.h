#pragma once

#include <string_view>

namespace velmora::kestrine {

// Names of the HTTP layer's task and session notifications and of their user-info keys.
inline constexpr std::string_view KSNetworkingTaskDidResumeNotification = "com.kestrine.networking.task.resume";
inline constexpr std::string_view KSNetworkingTaskDidSuspendNotification = "com.kestrine.networking.task.suspend";
inline constexpr std::string_view KSNetworkingTaskDidCompleteNotification = "com.kestrine.networking.task.complete";
inline constexpr std::string_view KSURLSessionDidInvalidateNotification = "com.kestrine.networking.session.invalidate";
inline constexpr std::string_view KSURLSessionDownloadTaskDidFailToMoveFileNotification =
    "com.kestrine.networking.session.download.file-manager-error";
inline constexpr std::string_view KSNetworkingTaskDidCompleteResponseSerializerKey =
    "com.kestrine.networking.task.complete.responseserializer";
inline constexpr std::string_view KSNetworkingTaskDidCompleteResponseDataKey =
    "com.kestrine.networking.complete.finish.responsedata";
inline constexpr std::string_view KSNetworkingTaskDidCompleteSerializedResponseKey =
    "com.kestrine.networking.task.complete.serializedresponse";
inline constexpr std::string_view KSNetworkingTaskDidCompleteErrorKey = "com.kestrine.networking.task.complete.error";
inline constexpr std::string_view KSNetworkingTaskDidCompleteAssetPathKey =
    "com.kestrine.networking.task.complete.assetpath";

}  // namespace velmora::kestrine
