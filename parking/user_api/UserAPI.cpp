#include "parking/user_api/UserAPI.h"

#include <utility>

#include "parking/service/DateDecoding.h"

namespace velmora {

namespace {

const Endpoint<UserResult> kCreate{"/v4.0/user/create", true, nullptr, [] { return UserResult(); }};
const Endpoint<CreateUserResult> kCreateUser{"/v4.0/user/createuser", false, nullptr,
                                             [] { return CreateUserResult(); }};
const Endpoint<DetailResult> kDetail{"/v4.0/user/detail", true, nullptr, [] { return DetailResult(); }};
const Endpoint<UpdateResult> kUpdate{"/v4.0/user/update", true, nullptr, [] { return UpdateResult(); }};
const Endpoint<LoginResult> kLogin{"/v4.0/user/login", true, nullptr, [] { return LoginResult(); }};
// The auth-token result has no default constructor: its calls start from empty texts and -1.
const Endpoint<AuthTokenResult> kAuthToken{"/v4.0/user/authtoken", false, nullptr,
                                           [] { return AuthTokenResult("", "", -1, ""); }};

// The status reply carries dates; the rule (and its formats) is made on the first call.
const Endpoint<StatusResult>& statusEndpoint() {
  static const Endpoint<StatusResult>& endpoint =
      *new Endpoint<StatusResult>{"/v4.0/user/status", true, &statusDateRule(), [] { return StatusResult(); }};
  return endpoint;
}

}  // namespace

UserResult UserAPI::create(std::string email, std::string firstname, std::string lastname, std::string phoneNo,
                           std::string password, std::string facebookAccessToken, std::string applIdAccessToken) {
  UserRequest request;
  request.email = std::move(email);
  request.firstname = std::move(firstname);
  request.lastname = std::move(lastname);
  request.phoneNo = std::move(phoneNo);
  request.password = std::move(password);
  request.facebookAccessToken = std::move(facebookAccessToken);
  request.appleIdAccessToken = std::move(applIdAccessToken);
  return create(request);
}

UserResult UserAPI::create(const UserRequest& userRequest) { return runRequestBlocking(kCreate, userRequest); }

void UserAPI::create(const UserRequest& userRequest, Completion<UserResult> completionBlock) {
  runRequest(kCreate, userRequest, std::move(completionBlock));
}

CreateUserResult UserAPI::createUser(std::string email, std::string firstname, std::string lastname,
                                     std::string phoneNo) {
  CreateUserRequest request;
  request.email = std::move(email);
  request.firstname = std::move(firstname);
  request.lastname = std::move(lastname);
  request.phoneNo = std::move(phoneNo);
  return createUser(request);
}

CreateUserResult UserAPI::createUser(const CreateUserRequest& createUserRequest) {
  return runRequestBlocking(kCreateUser, createUserRequest);
}

void UserAPI::createUser(const CreateUserRequest& createUserRequest, Completion<CreateUserResult> completionBlock) {
  runRequest(kCreateUser, createUserRequest, std::move(completionBlock));
}

DetailResult UserAPI::detail() { return detail(DetailRequest()); }

DetailResult UserAPI::detail(const DetailRequest& detailRequest) { return runRequestBlocking(kDetail, detailRequest); }

void UserAPI::detail(const DetailRequest& detailRequest, Completion<DetailResult> completionBlock) {
  runRequest(kDetail, detailRequest, std::move(completionBlock));
}

UpdateResult UserAPI::update(std::string email, std::string firstName, std::string lastName, std::string phoneNo) {
  UpdateRequest request;
  request.email = std::move(email);
  request.firstName = std::move(firstName);
  request.lastName = std::move(lastName);
  request.phoneNo = std::move(phoneNo);
  return update(request);
}

UpdateResult UserAPI::update(const UpdateRequest& updateRequest) { return runRequestBlocking(kUpdate, updateRequest); }

void UserAPI::update(const UpdateRequest& updateRequest, Completion<UpdateResult> completionBlock) {
  runRequest(kUpdate, updateRequest, std::move(completionBlock));
}

namespace {
LoginRequest loginRequest(std::string username, std::string password) {
  LoginRequest request;
  request.email = std::move(username);
  request.password = std::move(password);
  return request;
}
}  // namespace

LoginResult UserAPI::login(std::string username, std::string password) {
  return login(loginRequest(std::move(username), std::move(password)));
}

void UserAPI::login(std::string username, std::string password, Completion<LoginResult> completionBlock) {
  login(loginRequest(std::move(username), std::move(password)), std::move(completionBlock));
}

LoginResult UserAPI::login(const LoginRequest& loginRequest) { return runRequestBlocking(kLogin, loginRequest); }

void UserAPI::login(const LoginRequest& loginRequest, Completion<LoginResult> completionBlock) {
  runRequest(kLogin, loginRequest, std::move(completionBlock));
}

AuthTokenResult UserAPI::authToken(std::optional<std::string> email, std::optional<std::int64_t> userId) {
  AuthTokenRequest request;
  request.email = std::move(email);
  request.userId = userId;
  return authToken(request);
}

AuthTokenResult UserAPI::authToken(const AuthTokenRequest& authTokenRequest) {
  return runRequestBlocking(kAuthToken, authTokenRequest);
}

void UserAPI::authToken(const AuthTokenRequest& authTokenRequest, Completion<AuthTokenResult> completionBlock) {
  runRequest(kAuthToken, authTokenRequest, std::move(completionBlock));
}

StatusResult UserAPI::status() { return status(StatusRequest()); }

StatusResult UserAPI::status(const StatusRequest& statusRequest) {
  return runRequestBlocking(statusEndpoint(), statusRequest);
}

void UserAPI::status(const StatusRequest& statusRequest, Completion<StatusResult> completionBlock) {
  runRequest(statusEndpoint(), statusRequest, std::move(completionBlock));
}

}  // namespace velmora
