#include "core/settings.h"

#include "whitespace.h"

namespace tovix_lsp::settings {

using json = nlohmann::json;

std::optional<std::string> configured_path(const json& own_settings, const json& luau_lsp_settings) {
  static const json::json_pointer own("/luauLsp/path");
  static const json::json_pointer luau("/server/path");
  const json* value = nullptr;
  if (own_settings.is_object() && own_settings.contains(own))
    value = &own_settings.at(own);
  else if (luau_lsp_settings.is_object() && luau_lsp_settings.contains(luau))
    value = &luau_lsp_settings.at(luau);
  if (value == nullptr || !value->is_string()) return std::nullopt;
  const auto& text = value->get_ref<const std::string&>();
  if (tovix::whitespace::trim(text).empty()) return std::nullopt;
  return text;
}

json child_initialize_params(const json& init_params, long process_id, const json& fflags) {
  json params = init_params.is_object() ? init_params : json::object();
  params["processId"] = process_id;
  if (auto caps = params.find("capabilities"); caps != params.end() && caps->is_object()) {
    if (auto document = caps->find("textDocument"); document != caps->end() && document->is_object())
      document->erase("diagnostic");
    if (auto workspace = caps->find("workspace"); workspace != caps->end() && workspace->is_object())
      workspace->erase("diagnostics");
    // luau-lsp takes the first encoding offered; the source map and every
    // position we move speak UTF-16.
    auto general = caps->find("general");
    if (general == caps->end() || !general->is_object()) {
      (*caps)["general"] = json::object();
      general = caps->find("general");
    }
    (*general)["positionEncodings"] = json::array({"utf-16"});
  } else {
    params["capabilities"] = {{"general", {{"positionEncodings", json::array({"utf-16"})}}}};
  }
  if (fflags.is_object() && !fflags.empty()) {
    auto options = params.find("initializationOptions");
    if (options == params.end() || !options->is_object()) {
      params["initializationOptions"] = json::object();
      options = params.find("initializationOptions");
    }
    (*options)["fflags"] = fflags;
  }
  return params;
}

}  // namespace tovix_lsp::settings
