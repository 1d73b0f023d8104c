#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "control.h"
#include "open_descriptors.h"

namespace {

bool is_socket(const std::string &path)
{
	struct stat st;
	return stat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

class ControlSocket : public ::testing::Test {
protected:
	void SetUp() override
	{
		char tmpl[] = "/tmp/daemon-control-XXXXXX";
		ASSERT_NE(nullptr, mkdtemp(tmpl));
		dir = tmpl;
	}
	void TearDown() override { ASSERT_EQ(0, system(("rm -rf " + dir).c_str())); }
	std::string dir;
};

}  // namespace

TEST_F(ControlSocket, ReplacesAStaleFileAndCarriesOneMessage)
{
	std::string path = dir + "/daemon";
	ASSERT_EQ(0, close(open(path.c_str(), O_WRONLY | O_CREAT, 0644)));
	int server = create_unix_socket(path.c_str());
	ASSERT_GE(server, 0);
	EXPECT_TRUE(is_socket(path));
	EXPECT_NE(0, fcntl(server, F_GETFD) & FD_CLOEXEC);

	daemon_msg sent = {DAEMON_CMD_HEARTBEAT, -7};
	EXPECT_EQ(8, sendto_unix_socket(path.c_str(), &sent, sizeof sent));
	daemon_msg received = {0, 0};
	EXPECT_EQ(8, recv(server, &received, sizeof received, MSG_DONTWAIT));
	EXPECT_EQ(DAEMON_CMD_HEARTBEAT, received.cmd);
	EXPECT_EQ(-7, received.arg);
	close(server);
}

// Both sides cut an over-long path to the 107 characters the address holds.
TEST_F(ControlSocket, OverlongPathIsCutAlike)
{
	std::string path = dir + "/";
	path += std::string(120 - path.size(), 'x');
	int server = create_unix_socket(path.c_str());
	ASSERT_GE(server, 0);
	EXPECT_TRUE(is_socket(path.substr(0, 107)));
	int32_t word = DAEMON_CMD_REGISTER;
	EXPECT_EQ(4, sendto_unix_socket(path.c_str(), &word, sizeof word));
	close(server);
}

TEST_F(ControlSocket, FailuresReportAndLeakNothing)
{
	int before = open_descriptors();
	testing::internal::CaptureStdout();
	testing::internal::CaptureStderr();
	EXPECT_EQ(-1, create_unix_socket(nullptr));
	EXPECT_EQ(-1, sendto_unix_socket(nullptr, "x", 1));
	EXPECT_EQ(-1, create_unix_socket((dir + "/missing/daemon").c_str()));
	EXPECT_EQ(-1, sendto_unix_socket((dir + "/nobody").c_str(), "x", 1));
	std::string errors = testing::internal::GetCapturedStderr();
	EXPECT_EQ("para error\npara is error\n", testing::internal::GetCapturedStdout());
	EXPECT_NE(std::string::npos, errors.find("bind error: No such file or directory")) << errors;
	EXPECT_NE(std::string::npos, errors.find("sendto error: No such file or directory")) << errors;
	EXPECT_EQ(before, open_descriptors());
}
