#pragma once

#include <string>

// Writes launchd property lists for the tests, through libplist like every other writer here.
struct job_list_t {
  std::string label = "com.corvantix.test.service";
  std::string program_arguments_xml = "<string>/bin/sleep</string><string>300</string>";
  std::string extra_keys_xml;
  bool disabled = false;
  bool run_at_load = false;
};

// The XML text of the list.
std::string job_list_xml(const job_list_t& list);

// Writes the list to path, as XML or converted to the binary format.
bool write_job_list(const std::string& path, const job_list_t& list, bool binary = false);
