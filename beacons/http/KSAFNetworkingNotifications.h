#pragma once

#include <string_view>

namespace kestrine {

// Names of the HTTP layer's task and session notifications and of their user-info keys.
inline constexpr std::string_view KSAFNetworkingTaskDidResumeNotification = "com.kestrine.alamofire.networking.task.resume";
inline constexpr std::string_view KSAFNetworkingTaskDidSuspendNotification = "com.kestrine.alamofire.networking.task.suspend";
inline constexpr std::string_view KSAFNetworkingTaskDidCompleteNotification = "com.kestrine.alamofire.networking.task.complete";
inline constexpr std::string_view KSAFURLSessionDidInvalidateNotification = "com.kestrine.alamofire.networking.session.invalidate";
inline constexpr std::string_view KSAFURLSessionDownloadTaskDidFailToMoveFileNotification =
    "com.kestrine.alamofire.networking.session.download.file-manager-error";
inline constexpr std::string_view KSAFNetworkingTaskDidCompleteResponseSerializerKey =
    "com.kestrine.alamofire.networking.task.complete.responseserializer";
inline constexpr std::string_view KSAFNetworkingTaskDidCompleteResponseDataKey =
    "com.kestrine.alamofire.networking.complete.finish.responsedata";
inline constexpr std::string_view KSAFNetworkingTaskDidCompleteSerializedResponseKey =
    "com.kestrine.alamofire.networking.task.complete.serializedresponse";
inline constexpr std::string_view KSAFNetworkingTaskDidCompleteErrorKey = "com.kestrine.alamofire.networking.task.complete.error";
inline constexpr std::string_view KSAFNetworkingTaskDidCompleteAssetPathKey =
    "com.kestrine.alamofire.networking.task.complete.assetpath";

}  // namespace kestrine
