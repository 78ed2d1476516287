#include "beacons/http/KSHTTPCodes.h"

#include <fmt/format.h>

#include <iterator>
#include <string_view>
#include <utility>

namespace velmora::kestrine {
namespace {

constexpr std::pair<std::int64_t, std::string_view> kTable[] = {
    {1, "Undefined 1XX status code"},
    {2, "Undefined 2XX status code"},
    {3, "Undefined 3XX status code"},
    {4, "Undefined 4XX status code"},
    {5, "Undefined 5XX status code"},

    {100, "The server has received the request headers, and the client should proceed to send the request body."},
    {101, "The requester has asked the server to switch protocols and the server is acknowledging that it will do so."},
    {102, "The server has received and is processing the request, but no response is available yet."},

    {200, "The request has succeeded."},
    {201, "The request has been fulfilled and resulted in a new resource being created."},
    {202, "The request has been accepted for processing, but the processing has not been completed."},
    {203, "The server successfully processed the request, but is returning information that may be from another source."},
    {204, "The server successfully processed the request, but is not returning any content."},
    {205, "The server successfully processed the request, but is not returning any content. The requester should reset the document view."},
    {206, "The server is delivering only part of the resource due to a range header sent by the client."},
    {207, "The message body that follows is an XML message and can contain a number of separate response codes."},
    {208, "The members of a binding have already been enumerated in a previous reply to this request, and are not included again."},
    {209, "The server has fulfilled a request for the resource, and the response is a representation of the result of one or more instance-manipulations applied to the current instance."},

    {300, "The request has more than one possible response, and the client should choose one of them."},
    {301, "The requested resource has been assigned a new permanent URL, and future requests should use it."},
    {302, "The requested resource resides temporarily under a different URL."},
    {303, "The response to the request can be found under another URL using a GET method."},
    {304, "The resource has not been modified since the version specified by the request headers."},
    {305, "The requested resource must be accessed through the proxy given by the location field."},
    {306, "No longer used. Originally meant that subsequent requests should use the specified proxy."},
    {307, "The request should be repeated with another URL, but future requests should still use the original URL."},
    {308, "The request, and all future requests, should be repeated using another URL."},

    {400, "The request cannot be fulfilled due to bad syntax."},
    {401, "Authentication is required and has failed or has not yet been provided."},
    {402, "Reserved for future use. The request requires payment before it can be processed."},
    {403, "The request was a valid request, but the server is refusing to respond to it."},
    {404, "The requested resource could not be found but may be available again in the future."},
    {405, "A request was made of a resource using a request method not supported by that resource."},
    {406, "The requested resource is only capable of generating content not acceptable according to the Accept headers sent in the request."},
    {407, "The client must first authenticate itself with the proxy."},
    {408, "The server timed out waiting for the request."},
    {409, "The request could not be processed because of a conflict in the request, such as an edit conflict."},
    {410, "The requested resource is no longer available and will not be available again."},
    {411, "The request did not specify the length of its content, which is required by the requested resource."},
    {412, "The server does not meet one of the preconditions that the requester put on the request."},
    {413, "The request is larger than the server is willing or able to process."},
    {414, "The URI provided was too long for the server to process."},
    {415, "The request entity has a media type which the server or resource does not support."},
    {416, "The client has asked for a portion of the file, but the server cannot supply that portion."},
    {417, "The server cannot meet the requirements of the Expect request-header field."},
    {418, "The server refuses to brew coffee because it is a teapot."},
    {419, "The authentication has expired and the client must authenticate again."},
    {420, "The method failed: a framework defines this status for a method that could not be carried out."},
    {422, "The request was well-formed but was unable to be followed due to semantic errors."},
    {423, "The resource that is being accessed is locked."},
    {424, "The request failed due to failure of a previous request."},
    {425, "The server is unwilling to risk processing a request that might be replayed."},
    {426, "The client should switch to a different protocol, given in the Upgrade header field."},
    {428, "The origin server requires the request to be conditional."},
    {429, "The user has sent too many requests in a given amount of time."},
    {431, "The server is unwilling to process the request because its header fields are too large."},
    {444, "The server returned no information to the client and closed the connection."},
    {449, "The request should be retried after performing the appropriate action."},
    {450, "Access was blocked by parental controls."},
    {451, "The mail-synchronisation server redirects the client to another server for this mailbox."},
    {494, "The request header, or a single line of it, was too large for the server."},
    {495, "The client presented an invalid certificate."},
    {496, "The client did not present a certificate that the server requires."},
    {497, "A plain HTTP request was sent to a port that expects HTTPS."},
    {499, "The client closed the connection before the server could send a response."},

    {500, "The server encountered an unexpected condition which prevented it from fulfilling the request."},
    {501, "The server either does not recognise the request method, or it lacks the ability to fulfil the request."},
    {502, "The server was acting as a gateway or proxy and received an invalid response from the upstream server."},
    {503, "The server is currently unavailable, because it is overloaded or down for maintenance."},
    {504, "The server was acting as a gateway or proxy and did not receive a timely response from the upstream server."},
    {505, "The server does not support the HTTP protocol version used in the request."},
    {506, "Transparent content negotiation for the request results in a circular reference."},
    {507, "The server is unable to store the representation needed to complete the request."},
    {508, "The server detected an infinite loop while processing the request."},
    {509, "The server has exceeded the bandwidth limit set by its administrator."},
    {510, "Further extensions to the request are required for the server to fulfil it."},
    {511, "The client needs to authenticate to gain network access."},
    {522, "The server connection timed out."},
    {598, "A proxy timed out while reading from the network behind it."},
    {599, "A proxy timed out while connecting to the network behind it."},

    {4200, "The client is being rate limited for making too many search or trend requests. Wait before retrying."},
    {4240, "The method was not executed on the resource because part of its execution failed."},
    {4510, "The resource is unavailable for legal reasons, such as censorship or a government-mandated block."},
};

}  // namespace

std::string KSHTTPCodes::descriptionForCode(std::int64_t code) {
  for (const auto& [key, text] : kTable) {
    if (key == code) return std::string(text);
  }
  return fmt::format("Unknown status code: {}", static_cast<std::uint64_t>(code));
}

std::size_t KSHTTPCodes::tableSize() { return std::size(kTable); }

}  // namespace velmora::kestrine
