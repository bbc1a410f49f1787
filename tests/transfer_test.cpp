// Transfer rules over real temporary files: what each send mode puts on the
// line, what each capture mode writes, and when a send ends.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "link/transfer.h"
#include "tests/support/feed.h"
#include "tests/support/recording_shell.h"

namespace {

typedef std::vector<uint8_t> Bytes;

class Transfer : public ::testing::Test {
protected:
    std::string directory;

    void SetUp() override {
        ResetAll();
        shell.Clear();
        receiveMode = ReceiveMode::Off;
        characterInterval = 0;
        char pattern[] = "/tmp/brisvane-transfer-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        directory = pattern;
    }
    void TearDown() override {
        std::string command = "rm -rf '" + directory + "'";
        ASSERT_EQ(std::system(command.c_str()), 0);
    }

    std::string WriteFile(const Bytes& content) {
        std::string path = directory + "/send.bin";
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        EXPECT_EQ(write(fd, content.data(), content.size()), ssize_t(content.size()));
        close(fd);
        return path;
    }

    Bytes ReadFile(const std::string& path) {
        Bytes content;
        uint8_t block[65536];
        int fd = open(path.c_str(), O_RDONLY);
        ssize_t n;
        while ((n = read(fd, block, sizeof block)) > 0) content.insert(content.end(), block, block + n);
        close(fd);
        return content;
    }

    // Runs a send the way the loop does, returning the bytes put on the line.
    Bytes Send(SendState mode, const Bytes& content) {
        std::string path = WriteFile(content);
        sendFile = open(path.c_str(), O_RDONLY);
        sendState = mode;
        Bytes line;
        for (int pass = 0; pass < 1000000 && sendState != SendState::Idle; ++pass) {
            if (outputQueue.IsEmpty()) FetchSendByte();
            if (!outputQueue.IsEmpty() && PrepareHead()) {
                line.push_back(outputQueue.Head());
                outputQueue.Advance();
                WriteCompleted();
            }
        }
        return line;
    }

    bool SendFileClosed() { return fcntl(sendFile, F_GETFD) == -1; }
};

TEST_F(Transfer, TextSendMarksEveryByteDropsLineFeedsAndPausesAfterEachWrite) {
    characterInterval = 250;
    Bytes line = Send(SendState::SendText, {'A', 'B', '\r', '\n', 'C'});
    EXPECT_EQ(line, (Bytes{0xC1, 0xC2, 0x8D, 0xC3}));
    EXPECT_EQ(shell.pauses, (std::vector<uint32_t>{250, 250, 250, 250}));
    EXPECT_EQ(sendState, SendState::Idle);
    EXPECT_TRUE(SendFileClosed());
    EXPECT_EQ(shell.sendItemsBusy, 0);
}

TEST_F(Transfer, TextSendDropsAByteThatIsALineFeedOnceMarked) {
    Bytes line = Send(SendState::SendText, {0x8A, 0x0A, 0xC1, 0x00});
    EXPECT_EQ(line, (Bytes{0xC1, 0x80}));
}

TEST_F(Transfer, RawSendPassesEveryByteValueUnchangedToTheEnd) {
    Bytes all;
    for (int b = 0; b < 256; ++b) all.push_back(uint8_t(b));
    EXPECT_EQ(Send(SendState::SendRaw, all), all);
    EXPECT_TRUE(shell.pauses.empty());
    EXPECT_EQ(sendState, SendState::Idle);
}

TEST_F(Transfer, BinarySendArmsOnBitSixAndStopsBeforeTheNextTerminator) {
    Bytes line = Send(SendState::SendBinary, {0x80, 0x80, 0x41, 0x12, 0x80, 0x80});
    EXPECT_EQ(line, (Bytes{0x80, 0x80, 0x41, 0x12}));
    EXPECT_EQ(sendState, SendState::Idle);
    EXPECT_TRUE(SendFileClosed());
    EXPECT_EQ(shell.sendItemsCalls, 1);
}

TEST_F(Transfer, BinarySendWithoutBitSixIsSentWhole) {
    Bytes body = {0x80, 0x00, 0x3F, 0x80, 0xBF, 0x0A};
    EXPECT_EQ(Send(SendState::SendBinary, body), body);
}

TEST_F(Transfer, EmptyFileEndsTheSendAtOnceInEveryMode) {
    for (SendState mode : {SendState::SendText, SendState::SendRaw, SendState::SendBinary}) {
        shell.Clear();
        EXPECT_TRUE(Send(mode, {}).empty());
        EXPECT_EQ(sendState, SendState::Idle);
        EXPECT_EQ(shell.sendItemsCalls, 1);
        EXPECT_EQ(shell.sendItemsBusy, 0);
    }
}

TEST_F(Transfer, TheMarkFollowsTheStateWhenTheByteIsWritten) {
    const uint8_t key = 'a';
    outputQueue.Fill(&key, 1);
    ASSERT_TRUE(PrepareHead());
    EXPECT_EQ(outputQueue.Head(), 0xE1);  // typed while idle: marked

    outputQueue.Fill(&key, 1);
    sendState = SendState::SendRaw;  // a raw send started before the write
    ASSERT_TRUE(PrepareHead());
    EXPECT_EQ(outputQueue.Head(), 'a');

    const uint8_t ctrlJ = 0x0A;
    outputQueue.Fill(&ctrlJ, 1);
    sendState = SendState::Idle;  // the line-feed drop is for text sends only
    ASSERT_TRUE(PrepareHead());
    EXPECT_EQ(outputQueue.Head(), 0x8A);
}

TEST_F(Transfer, IdentifyReplyGoesOutMarked) {
    Feed("\x1bZ");
    Bytes line;
    while (!outputQueue.IsEmpty() && PrepareHead()) {
        line.push_back(outputQueue.Head());
        outputQueue.Advance();
    }
    EXPECT_EQ(line, (Bytes{0x9B, 0xAF, 0xCB}));
}

TEST_F(Transfer, CaptureModesWriteEightOrSevenBitsAndShowOnlyText) {
    std::string rawPath = directory + "/raw.cap";
    captureFile = open(rawPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    receiveMode = ReceiveMode::CaptureRaw;
    for (int b = 0; b < 256; ++b) ByteReceived(uint8_t(b));
    CloseFileHandle(captureFile);
    Bytes raw = ReadFile(rawPath);
    ASSERT_EQ(raw.size(), 256u);
    for (int b = 0; b < 256; ++b) ASSERT_EQ(raw[b], b);
    for (Cell cell : screen.cells) ASSERT_EQ(cell, 0x20);  // nothing shown

    std::string textPath = directory + "/text.cap";
    captureFile = open(textPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    receiveMode = ReceiveMode::CaptureText;
    ByteReceived(0xC1);
    ByteReceived(0x42);
    CloseFileHandle(captureFile);
    EXPECT_EQ(ReadFile(textPath), (Bytes{0x41, 0x42}));
    EXPECT_EQ(RowText(0), "AB");

    receiveMode = ReceiveMode::Off;
    ByteReceived(0xC3);
    EXPECT_EQ(RowText(0), "ABC");
}

TEST_F(Transfer, FilesCrossManyBuffersIntactBothWays) {
    // Each four-byte word holds its own offset: a lost, repeated or reordered
    // block of the file layer's buffers shows.
    Bytes content(200 * 1024);
    for (uint32_t offset = 0; offset < content.size(); offset += 4) {
        std::memcpy(&content[offset], &offset, sizeof offset);
    }
    EXPECT_EQ(Send(SendState::SendRaw, content), content);
    std::string path = directory + "/raw.cap";
    captureFile = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    receiveMode = ReceiveMode::CaptureRaw;
    for (uint8_t b : content) ByteReceived(b);
    CloseFileHandle(captureFile);
    EXPECT_EQ(ReadFile(path), content);
}

}  // namespace
