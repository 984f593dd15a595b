#include <QStandardPaths>
#include <QtEndian>
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <thread>
#include <vector>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "rdp_test_support.h"
#include "session/rdp/freerdp_compat.h"
#include "session/rdp/freerdp_control.h"

namespace tclink::rdp::test {
namespace {

// A loopback endpoint of this test's own: no line server runs here.
const QString endpoint = QStringLiteral("127.0.0.1:7313");
constexpr int toneHz = 660;
constexpr int rate = 44100;

// The frequency of the loud part of a 16-bit mono recording, from its zero crossings; 0 when
// nothing loud was recorded.
double toneFrequency(const QByteArray& raw)
{
    // Decoded sample by sample: the recording is little-endian whatever this machine's order.
    std::vector<qint16> samples(static_cast<std::size_t>(raw.size() / 2));
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = qFromLittleEndian<qint16>(raw.constData() + 2 * i);
    const auto count = static_cast<qsizetype>(samples.size());
    constexpr int loud = 3000;
    qsizetype first = 0;
    while (first < count && std::abs(samples[first]) < loud)
        ++first;
    qsizetype last = count - 1;
    while (last > first && std::abs(samples[last]) < loud)
        --last;
    if (last - first < rate / 2)
        return 0;
    // The middle of the tone, clear of its start and end.
    const qsizetype from = first + (last - first) / 8;
    const qsizetype to = last - (last - first) / 8;
    int crossings = 0;
    bool positive = samples[from] > 0;
    for (qsizetype i = from; i < to; ++i) {
        if (positive ? samples[i] < -loud / 4 : samples[i] > loud / 4) {
            positive = !positive;
            ++crossings;
        }
    }
    return crossings / 2.0 / (double(to - from) / rate);
}

class SoundTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!DemoServer::available())
            GTEST_SKIP() << "tclink-demo-server not built";
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(server.start(endpoint, {"--tone-hz", QString::number(toneHz)}));
        control = std::make_unique<FreeRdpControl>();
        control->AdvancedSettings2.RedirectDrives = true; // as the session does
        logInTo(*control, QStringLiteral("127.0.0.1"), 7313);
        log = std::make_unique<EventLog>(*control);
    }

    void TearDown() override
    {
        if (recorder.state() != QProcess::NotRunning) {
            recorder.kill();
            recorder.waitForFinished(2000);
        }
        if (soundServerStarted)
            QProcess::execute(script(), {"stop", dir.path()});
        qunsetenv("PULSE_SERVER");
        qunsetenv("ALSA_CONFIG_PATH");
    }

    static QString script()
    {
        return qEnvironmentVariable("TCLINK_SOURCE_DIR") + "/tools/servers/pulse-null";
    }

    // Points ALSA's default device at this configuration for the control.
    void useAlsa(const QByteArray& configuration)
    {
        QFile file(dir.filePath("asound.conf"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(configuration);
        file.close();
        qputenv("ALSA_CONFIG_PATH", file.fileName().toLocal8Bit());
    }

    // Logs in, waits for the tone to be sent and checks that the session outlives it.
    void logInThroughTheTone()
    {
        control->Connect();
        ASSERT_TRUE(log->waitFor("OnLoginComplete", 10000)) << log->names.join(',').toStdString();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !server.events("tone").isEmpty(); }, 10000));
        EXPECT_EQ(server.events("tone").first()["format"], "0");
        // The static sound channel, without the dynamic channels' extra join.
        ASSERT_TRUE(QTest::qWaitFor([&] { return !server.events("login").isEmpty(); }, 5000));
        const QStringList channels = server.events("login").first()["channels"].split(',');
        EXPECT_TRUE(channels.contains("rdpsnd"));
        EXPECT_FALSE(channels.contains("drdynvc"));
        QTest::qWait(2500); // the 1.5 s tone and more
        EXPECT_FALSE(log->has("OnDisconnected")) << log->reason;
        EXPECT_FALSE(log->has("OnFatalError"));
        control->RequestClose();
        ASSERT_TRUE(log->waitFor("OnDisconnected", 5000));
        EXPECT_EQ(log->reason, 1);
    }

    QTemporaryDir dir;
    DemoServer server;
    std::unique_ptr<FreeRdpControl> control;
    std::unique_ptr<EventLog> log;
    QProcess recorder;
    bool soundServerStarted = false;
};

TEST_F(SoundTest, TheServersToneIsPlayedThroughPulseAudio)
{
    if (QStandardPaths::findExecutable("pulseaudio").isEmpty() ||
        QStandardPaths::findExecutable("parec").isEmpty())
        GTEST_SKIP() << "no pulseaudio/parec (tools/deps installs them)";
    QProcess start;
    start.start(script(), {"start", dir.path()});
    ASSERT_TRUE(start.waitForFinished(15000));
    ASSERT_EQ(start.exitCode(), 0) << start.readAllStandardError().toStdString();
    soundServerStarted = true;
    const QByteArray pulseServer = start.readAllStandardOutput().trimmed();
    qputenv("PULSE_SERVER", pulseServer);

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("PULSE_SERVER", QString::fromLocal8Bit(pulseServer));
    recorder.setProcessEnvironment(environment);
    recorder.setStandardOutputFile(dir.filePath("recording.raw"));
    recorder.start("parec",
                   {"--device=rec.monitor", "--raw", "--format=s16le",
                    "--rate=" + QString::number(rate), "--channels=1", "--latency-msec=20"});
    ASSERT_TRUE(recorder.waitForStarted());

    logInThroughTheTone();
    recorder.terminate();
    recorder.waitForFinished(5000);
    QFile recording(dir.filePath("recording.raw"));
    ASSERT_TRUE(recording.open(QIODevice::ReadOnly));
    const double heard = toneFrequency(recording.readAll());
    QFile soundServerLog(dir.filePath("pulse.log"));
    soundServerLog.open(QIODevice::ReadOnly);
    EXPECT_NEAR(heard, toneHz, toneHz * 0.02)
        << "recorded " << recording.size() << " bytes; the sound server said:\n"
        << soundServerLog.readAll().toStdString();
}

// A sound device that is still busy with the tone when the session is closed (ALSA writing into
// a pipe that nobody reads yet): the session ends once the device is done, and nothing is freed
// under it. The library's own playing thread would go on into a device that disconnecting freed
// (a use after free, which the sanitizers report).
TEST_F(SoundTest, ClosingWhileTheSoundDeviceIsBusyFreesNothingUnderIt)
{
    const QByteArray pipe = dir.filePath("sound").toLocal8Bit();
    ASSERT_EQ(mkfifo(pipe.constData(), 0600), 0);
    qputenv("PULSE_SERVER", ("unix:" + dir.filePath("no-such-socket")).toLocal8Bit());
    useAlsa("pcm.!default { type file slave.pcm { type null } file \"" + pipe +
            "\" format \"raw\" }\n");
    control->Connect();
    ASSERT_TRUE(log->waitFor("OnLoginComplete", 10000)) << log->names.join(',').toStdString();
    // The tone has begun: the device opens its output, the pipe, which waits for a reader.
    QTest::qWait(1000);
    control->RequestClose();
    QTest::qWait(500);
    EXPECT_FALSE(log->has("OnDisconnected")) << "ended while the sound device was busy";

    const int reader = open(pipe.constData(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    const auto drain = [&] {
        char buffer[65536];
        while (read(reader, buffer, sizeof buffer) > 0) {
        }
    };
    const bool ended = QTest::qWaitFor(
        [&] {
            drain();
            return log->has("OnDisconnected");
        },
        5000);
    // Whatever still plays after the end plays now.
    for (int i = 0; i < 5; ++i) {
        QTest::qWait(100);
        drain();
    }
    close(reader);
    ASSERT_TRUE(ended) << log->names.join(',').toStdString();
    EXPECT_EQ(log->reason, 1);
}

TEST_F(SoundTest, WithoutASoundSystemTheSessionGoesOnSilently)
{
    qputenv("PULSE_SERVER", ("unix:" + dir.filePath("no-such-socket")).toLocal8Bit());
    useAlsa("pcm.!default { type hw card 99 }\n");
    logInThroughTheTone();
}

#if FREERDP_VERSION_MAJOR >= 3
// The channel error of a connection that is never made, kept as FreeRDP keeps it.
class SoundChannelErrorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        instance = freerdp_new();
        ASSERT_NE(instance, nullptr);
        ASSERT_TRUE(freerdp_context_new(instance));
        context = instance->context;
    }
    void TearDown() override
    {
        if (context)
            freerdp_context_free(instance);
        freerdp_free(instance);
    }
    bool signalled() const
    {
        return WaitForSingleObject(context->channelErrorEvent, 0) == WAIT_OBJECT_0;
    }
    static void deviceChannelFails(rdpContext* context)
    {
        setChannelError(context, 13, "%s reported an error", "rdpdr_virtual_channel_client_thread");
    }

    freerdp* instance = nullptr;
    rdpContext* context = nullptr;
};

TEST_F(SoundChannelErrorTest, TheSoundsOwnErrorEndsTheSoundAndLeavesTheConnectionClean)
{
    // The channels reach the program's definition, not the library's.
    EXPECT_EQ(dlsym(RTLD_DEFAULT, "setChannelError"), reinterpret_cast<void*>(&setChannelError));
    {
        const compat::SoundReceiving receiving(context);
        setChannelError(context, 1359, "rdpsnd_virtual_channel_open_event_ex reported an error");
        EXPECT_TRUE(receiving.failed());
    }
    EXPECT_EQ(getChannelError(context), 0u);
    EXPECT_FALSE(signalled());
    // Once the message is handled, an error on the same thread is the connection's again.
    deviceChannelFails(context);
    EXPECT_EQ(getChannelError(context), 13u);
    EXPECT_STREQ(context->errorDescription,
                 "rdpdr_virtual_channel_client_thread reported an error");
    EXPECT_TRUE(signalled());
}

// The device channel's thread fails in the very moment the sound fails on the session's thread:
// the device channel's error ends the connection.
TEST_F(SoundChannelErrorTest, AnotherChannelsErrorOfTheSameMomentStands)
{
    {
        const compat::SoundReceiving receiving(context);
        std::thread(deviceChannelFails, context).join();
        setChannelError(context, 1359, "rdpsnd_virtual_channel_open_event_ex reported an error");
        EXPECT_TRUE(receiving.failed());
    }
    EXPECT_EQ(getChannelError(context), 13u);
    EXPECT_STREQ(context->errorDescription,
                 "rdpdr_virtual_channel_client_thread reported an error");
    EXPECT_TRUE(signalled());
}
#endif

} // namespace
} // namespace tclink::rdp::test
