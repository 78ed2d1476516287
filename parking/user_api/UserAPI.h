#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "parking/user_api/AuthTokenRequest.h"
#include "parking/user_api/AuthTokenResult.h"
#include "parking/user_api/CreateUserRequest.h"
#include "parking/user_api/CreateUserResult.h"
#include "parking/user_api/DetailRequest.h"
#include "parking/user_api/DetailResult.h"
#include "parking/user_api/LoginRequest.h"
#include "parking/user_api/LoginResult.h"
#include "parking/service/RequestRunner.h"
#include "parking/user_api/StatusRequest.h"
#include "parking/user_api/StatusResult.h"
#include "parking/user_api/UpdateRequest.h"
#include "parking/user_api/UpdateResult.h"
#include "parking/user_api/UserRequest.h"
#include "parking/user_api/UserResult.h"

namespace velmora {

// The user account calls of the parking service. Static operations only; no state.
//
// Each call comes in three forms (login in four):
//  - a convenience form, which builds the request from the settings and its arguments and
//    runs the blocking form;
//  - a blocking form, which takes a request and returns the result record, never an error:
//    a failure comes back as a record whose result is "Failure" and whose message says why;
//  - an asynchronous form, which takes a request and a completion that receives a result
//    record or an error, on the URL session's callback queue (see runRequest).
// Every call POSTs to the settings' server name followed by "/v4.0/user/<call>". create,
// detail, update, login and status send the "UserID" and "AuthenticationToken" headers;
// createUser and authToken never do, whatever their requests hold. Nothing is checked:
// empty strings are sent as empty strings.
class UserAPI {
 public:
  UserAPI() = delete;

  // "/v4.0/user/create". The last argument fills the request's appleIdAccessToken.
  static UserResult create(std::string email, std::string firstname, std::string lastname, std::string phoneNo,
                           std::string password, std::string facebookAccessToken, std::string applIdAccessToken);
  static UserResult create(const UserRequest& userRequest);
  static void create(const UserRequest& userRequest, Completion<UserResult> completionBlock);

  // "/v4.0/user/createuser"; no user headers.
  static CreateUserResult createUser(std::string email, std::string firstname, std::string lastname,
                                     std::string phoneNo);
  static CreateUserResult createUser(const CreateUserRequest& createUserRequest);
  static void createUser(const CreateUserRequest& createUserRequest, Completion<CreateUserResult> completionBlock);

  // "/v4.0/user/detail".
  static DetailResult detail();
  static DetailResult detail(const DetailRequest& detailRequest);
  static void detail(const DetailRequest& detailRequest, Completion<DetailResult> completionBlock);

  // "/v4.0/user/update".
  static UpdateResult update(std::string email, std::string firstName, std::string lastName, std::string phoneNo);
  static UpdateResult update(const UpdateRequest& updateRequest);
  static void update(const UpdateRequest& updateRequest, Completion<UpdateResult> completionBlock);

  // "/v4.0/user/login". The user name goes out as "email".
  static LoginResult login(std::string username, std::string password);
  static void login(std::string username, std::string password, Completion<LoginResult> completionBlock);
  static LoginResult login(const LoginRequest& loginRequest);
  static void login(const LoginRequest& loginRequest, Completion<LoginResult> completionBlock);

  // "/v4.0/user/authtoken"; no user headers. An absent argument leaves its key out of the
  // body. A failed blocking call starts from result, message and token empty, user id -1.
  static AuthTokenResult authToken(std::optional<std::string> email, std::optional<std::int64_t> userId);
  static AuthTokenResult authToken(const AuthTokenRequest& authTokenRequest);
  static void authToken(const AuthTokenRequest& authTokenRequest, Completion<AuthTokenResult> completionBlock);

  // "/v4.0/user/status". The reply's dates are read by statusDateRule.
  static StatusResult status();
  static StatusResult status(const StatusRequest& statusRequest);
  static void status(const StatusRequest& statusRequest, Completion<StatusResult> completionBlock);
};

}  // namespace velmora
