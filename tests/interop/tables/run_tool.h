#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <string>

// Runs a shell command and returns its exit status and standard output.
struct ToolResult {
  int status = -1;
  std::string out;
};

inline ToolResult RunTool(const std::string& cmd) {
  ToolResult r;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return r;
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

inline void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

inline bool HaveCommand(const std::string& check) { return RunTool(check + " >/dev/null 2>&1").status == 0; }
