#pragma once

// The stand-in as the server's child in an end-to-end session: its modes, its
// script, the file where it records every message it reads (and its probes),
// the project folder of the session and a home of its own, so that nothing
// of the user's is found.

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "editor_session.h"
#include "workspace/analysis.h"
#include "workspace/project.h"

namespace tovix_lsp::testing {

struct StandInChild {
  explicit StandInChild(std::string modes = "", const nlohmann::json& script = nlohmann::json::object())
      : modes(std::move(modes)) {
    write_script(script);
  }

  // The script the next child started reads.
  void write_script(const nlohmann::json& script) const {
    std::ofstream(files.root() / "script.json") << script.dump();
  }

  // A session with the stand-in as its configured luau-lsp.
  SessionOptions options() const {
    SessionOptions options;
    options.folder = project;
    options.env = {{"TOVIX_STAND_IN", modes},
                   {"TOVIX_STAND_IN_RECORD", record.path().string()},
                   {"TOVIX_STAND_IN_SCRIPT", (files.root() / "script.json").string()},
                   {"HOME", files.dir("home").string()}};
    options.tovix = {{"luauLsp", {{"path", TOVIX_STAND_IN_BINARY}}}};
    return options;
  }

  std::string uri(const std::string& name) const { return project::path_to_uri(project / name); }
  std::string generated(const std::string& name) const {
    return project::path_to_uri((project / name).replace_extension(".luau"));
  }

  // Waits until the `n`th child started is ready: the server has had its
  // initialize answer and told it so.
  void ready(EditorSession& s, std::size_t n = 1) const { (void)count(s, "initialized", n); }

  // Waits until the record holds `n` messages of `method`.
  bool count(EditorSession& s, const std::string& method, std::size_t n) const {
    return record.wait_until(s, [&](const std::vector<nlohmann::json>& lines) {
      std::size_t seen = 0;
      for (const nlohmann::json& line : lines) seen += line.value("method", "") == method;
      return seen >= n;
    });
  }

  // The lines the `n`th child recorded (counting from 1).
  std::vector<nlohmann::json> lines_of(std::size_t n) const {
    std::vector<nlohmann::json> out;
    std::size_t child = 0;
    for (nlohmann::json& line : record.lines()) {
      if (line.contains("argv")) ++child;
      if (child == n && !line.contains("argv") && !line.contains("probe")) out.push_back(std::move(line));
    }
    return out;
  }

  // Every process id the stand-in recorded: the children and their probes.
  std::vector<int> pids() const {
    std::vector<int> out = record.pids();
    for (const nlohmann::json& line : record.lines())
      if (line.contains("probe")) out.push_back(line.at("probe").get<int>());
    return out;
  }

  // The generated code of `text` as the server compiles it in this folder.
  std::shared_ptr<const analysis::Compiled> compile(const std::string& name, const std::string& text) const {
    const document::Document document(uri(name), text, 1);
    return analysis::Analysis::run(document, project::Project::bare(project), nullptr).compiled;
  }

  TempTree files;
  std::filesystem::path project = files.dir("project");
  StandInRecord record{files.root() / "record.jsonl"};
  std::string modes;
};

}  // namespace tovix_lsp::testing
