// Control requests inside the throwaway root, judged by the launchctl stand-in's journal and
// state and by the property lists they leave.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "install/launchd_plist.h"
#include "service/helper_tool.h"
#include "system/external_commands.h"
#include "tests/sandbox/support.h"
#include "tests/support/files.h"
#include "tests/support/property_lists.h"
#include "tests/support/service_test_support.h"

namespace fs = std::filesystem;
using test_support::bool_value;
using test_support::is_line;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::IsEmpty;

namespace {

constexpr const char* job_program = "/usr/local/bin/velmora-job";
constexpr const char* job_marker = "/tmp/velmora-job-ran";

using call_t = std::vector<std::string>;

class ServiceControl : public testing::Test {
 protected:
  void SetUp() override {
    sandbox::clear_journal();
    fs::remove(job_marker);
    test_support::write_text(job_program,
                             std::string("#!/bin/sh\necho \"$@\" >> ") + job_marker + "\n", 0755);
  }

  // A list as the install writes it, with the two flags given.
  static void write_list(const std::string& path, const std::string& label, bool run_at_load,
                         bool disabled = false, const std::string& program = job_program) {
    auto list = launchd_plist::job_dictionary(label, program, "--service");
    plist_dict_set_item(list.get(), "RunAtLoad", plist_new_bool(run_at_load));
    plist_dict_set_item(list.get(), "Disabled", plist_new_bool(disabled));
    ASSERT_TRUE(platform::property_list::write_xml(path, list.get(), true));
  }

  static void write_service_list(const std::string& vl_namespace, bool run_at_load,
                                 bool disabled = false, const std::string& program = job_program) {
    write_list(launchd_plist::service_plist_path(vl_namespace),
               launchd_plist::service_label(vl_namespace), run_at_load, disabled, program);
  }

  static std::vector<call_t> launchctl_calls() {
    std::vector<call_t> calls;
    for (const auto& entry : sandbox::journal_calls_of("/bin/launchctl")) {
      calls.push_back(entry.arguments);
    }
    return calls;
  }

  static std::string launchctl_list() { return sandbox::run({"/bin/launchctl", "list"}).output; }

  bool answer(const std::function<void(bool_reply_t)>& request) {
    service_test::reply_recorder_t reply;
    request(reply.block());
    EXPECT_EQ(reply.answers.size(), 1u);
    return !reply.answers.empty() && reply.answers.front();
  }

  bool start(const std::string& vl_namespace) {
    return answer(
        [&](bool_reply_t r) { helper.start_service_with_namespace(vl_namespace, std::move(r)); });
  }

  static auto launching(const std::string& vl_namespace) {
    return is_line("info", "Trying to launch: " + launchd_plist::service_label(vl_namespace) +
                               " (" + launchd_plist::service_plist_path(vl_namespace) + ").");
  }

  helper_tool_t helper;
  service_test::trace_capture_t trace{"/tmp/service_control.trace"};
};

TEST_F(ServiceControl, JobThatRunsAtLoadIsOnlyLoaded) {
  write_service_list("ctl_atload", true);
  EXPECT_TRUE(start("ctl_atload"));
  const auto path = launchd_plist::service_plist_path("ctl_atload");
  EXPECT_THAT(launchctl_calls(), ElementsAre(call_t{"load", path}));
  EXPECT_THAT(launchctl_list(), HasSubstr("com.corvantix.ctl_atload.service"));
  EXPECT_TRUE(sandbox::eventually([] { return fs::exists(job_marker); }));
  EXPECT_THAT(trace.lines(), ElementsAre(launching("ctl_atload")));
}

TEST_F(ServiceControl, JobThatDoesNotRunAtLoadIsStartedAndTheStartAnswers) {
  write_service_list("ctl_manual", false);
  EXPECT_TRUE(start("ctl_manual"));
  EXPECT_THAT(launchctl_calls(),
              ElementsAre(call_t{"load", launchd_plist::service_plist_path("ctl_manual")},
                          call_t{"start", "com.corvantix.ctl_manual.service"}));
  EXPECT_TRUE(sandbox::eventually([] { return fs::exists(job_marker); }));

  // Loaded, but its program cannot be started: the start's failure is the answer.
  write_service_list("ctl_broken", false, false, "/missing/program");
  EXPECT_FALSE(start("ctl_broken"));
  EXPECT_EQ(launchctl_calls().back(), (call_t{"start", "com.corvantix.ctl_broken.service"}));
}

TEST_F(ServiceControl, DisabledJobIsReenabledThenLoaded) {
  write_service_list("ctl_disabled", true, true);
  EXPECT_TRUE(start("ctl_disabled"));
  const auto path = launchd_plist::service_plist_path("ctl_disabled");
  EXPECT_EQ(bool_value(platform::property_list::read_file(path).get(), "Disabled"), false);
  EXPECT_THAT(launchctl_calls(), ElementsAre(call_t{"load", path}));
  EXPECT_THAT(trace.lines(),
              ElementsAre(launching("ctl_disabled"), is_line("warning", path + " is disabled.")));
}

TEST_F(ServiceControl, MissingListIsStillLoadedAndTheFailedLoadAnswers) {
  EXPECT_FALSE(start("ctl_missing"));
  EXPECT_THAT(launchctl_calls(),
              ElementsAre(call_t{"load", launchd_plist::service_plist_path("ctl_missing")}));
  EXPECT_THAT(trace.lines(), ElementsAre(launching("ctl_missing")));
}

TEST_F(ServiceControl, InvalidNamespaceIsRefusedSilentlyWithoutRunningATool) {
  write_list("/Library/LaunchAgents/com.corvantix.velmora-1.Frontend.plist", "agent", true);
  // A namespace of 50,000 letters is answered like any other invalid one.
  for (const std::string& vl_namespace : {std::string("velmora-1"), std::string(50000, 'v')}) {
    EXPECT_FALSE(start(vl_namespace));
    EXPECT_FALSE(answer([&](bool_reply_t r) { helper.quit_service(vl_namespace, std::move(r)); }));
    EXPECT_FALSE(answer(
        [&](bool_reply_t r) { helper.setAutostartEnabled(false, vl_namespace, std::move(r)); }));
  }
  EXPECT_THAT(sandbox::read_journal(), IsEmpty());
  EXPECT_THAT(trace.lines(), IsEmpty());
  EXPECT_EQ(ExternalCommands::is_service_run_at_load(
                "/Library/LaunchAgents/com.corvantix.velmora-1.Frontend.plist"),
            true);
}

TEST_F(ServiceControl, QueriesReadTheListsOfAnyNamespace) {
  const auto ask = [&](auto request, const std::string& vl_namespace) {
    return answer([&](bool_reply_t r) { (helper.*request)(vl_namespace, std::move(r)); });
  };
  EXPECT_FALSE(ask(&helper_tool_t::is_service_installed_with_namespace, "ctl_never"));
  EXPECT_FALSE(ask(&helper_tool_t::is_service_disabled_with_namespace, "ctl_never"));
  EXPECT_FALSE(ask(&helper_tool_t::isAutostartEnabledForNamespace, "ctl_never"));

  write_service_list("ctl_query", false, true);
  write_list(launchd_plist::agent_plist_path("ctl_query"), "agent", true);
  EXPECT_TRUE(ask(&helper_tool_t::is_service_installed_with_namespace, "ctl_query"));
  EXPECT_TRUE(ask(&helper_tool_t::is_service_disabled_with_namespace, "ctl_query"));
  EXPECT_FALSE(ask(&helper_tool_t::is_service_run_at_load_with_namespace, "ctl_query"));
  EXPECT_TRUE(ask(&helper_tool_t::isAutostartEnabledForNamespace, "ctl_query"));

  fs::create_directory("/Library/LaunchDaemons/com.corvantix.sub");
  write_list("/Library/LaunchDaemons/com.corvantix.sub/x.service.plist", "sub", true);
  EXPECT_TRUE(ask(&helper_tool_t::is_service_installed_with_namespace, "sub/x"));
  EXPECT_TRUE(ask(&helper_tool_t::is_service_run_at_load_with_namespace, "sub/x"));

  EXPECT_THAT(sandbox::read_journal(), IsEmpty());
  EXPECT_THAT(trace.lines(), IsEmpty());
}

TEST_F(ServiceControl, AutostartRewritesTheListsThatExistAndLoadsNothing) {
  const auto agent = launchd_plist::agent_plist_path("ctl_auto");
  const auto daemon = launchd_plist::service_plist_path("ctl_auto");
  write_list(agent, "agent", true);
  EXPECT_TRUE(
      answer([&](bool_reply_t r) { helper.setAutostartEnabled(false, "ctl_auto", std::move(r)); }));
  EXPECT_EQ(bool_value(platform::property_list::read_file(agent).get(), "RunAtLoad"), false);
  EXPECT_FALSE(fs::exists(daemon));

  write_service_list("ctl_auto", false);
  EXPECT_TRUE(
      answer([&](bool_reply_t r) { helper.setAutostartEnabled(true, "ctl_auto", std::move(r)); }));
  EXPECT_EQ(bool_value(platform::property_list::read_file(agent).get(), "RunAtLoad"), true);
  EXPECT_EQ(bool_value(platform::property_list::read_file(daemon).get(), "RunAtLoad"), true);
  EXPECT_THAT(sandbox::read_journal(), IsEmpty());
}

TEST_F(ServiceControl, QuitStopsTheDaemonAndAnswersYesEvenWhenNothingRuns) {
  write_service_list("ctl_quit", false);
  ASSERT_TRUE(start("ctl_quit"));
  EXPECT_TRUE(answer([&](bool_reply_t r) { helper.quit_service("ctl_quit", std::move(r)); }));
  EXPECT_TRUE(answer([&](bool_reply_t r) { helper.quit_service("ctl_never", std::move(r)); }));
  const auto calls = launchctl_calls();
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls[2], (call_t{"stop", "com.corvantix.ctl_quit.service"}));
  EXPECT_EQ(calls[3], (call_t{"stop", "com.corvantix.ctl_never.service"}));
  EXPECT_THAT(launchctl_list(), HasSubstr("com.corvantix.ctl_quit.service"));  // still loaded
}

TEST_F(ServiceControl, RebootAnswersTheToolsResultAndTrayChangesNothing) {
  EXPECT_TRUE(answer([&](bool_reply_t r) { helper.reboot_computer_with_reply(std::move(r)); }));
  sandbox::make_tool_fail("reboot");
  EXPECT_FALSE(answer([&](bool_reply_t r) { helper.reboot_computer_with_reply(std::move(r)); }));
  sandbox::let_tool_succeed("reboot");
  EXPECT_THAT(sandbox::journal_calls_of("/sbin/reboot"),
              ElementsAre(sandbox::journal_entry_t{"/sbin/reboot", {}},
                          sandbox::journal_entry_t{"/sbin/reboot", {}}));

  sandbox::clear_journal();
  EXPECT_TRUE(
      answer([&](bool_reply_t r) { helper.set_tray_enabled("tray", false, "/x", std::move(r)); }));
  EXPECT_THAT(sandbox::read_journal(), IsEmpty());
}

}  // namespace
