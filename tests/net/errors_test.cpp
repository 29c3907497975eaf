// Error classes and texts, and the tick-driven time counter.
#include <gtest/gtest.h>

#include "net/socket_errors.h"
#include "net/time_counter.h"
#include "platform/ui.h"

namespace {

std::string RaisedText(int code) {
    try {
        RaiseSocketError(code);
    } catch (const EWinsockError& e) {
        return e.Message();
    }
    return "(nothing raised)";
}

TEST(SocketErrorText, KnownCodesGiveTheirStoredText) {
    EXPECT_EQ(RaisedText(10060), "[10060] Connection timed out");
    EXPECT_EQ(RaisedText(10061), "[10061] Connection refused");
    EXPECT_EQ(RaisedText(10054), "[10054] Connection reset by peer");
    EXPECT_EQ(RaisedText(10013), "[10013] Permission denied.");
    EXPECT_EQ(RaisedText(10000), "[0] No Error");
    EXPECT_EQ(RaisedText(11001), "[11001] Host not found");
    EXPECT_EQ(RaisedText(11003), "[11003] Non-Recoverable errors: FORMERR, REFUSED, NOTIMP");
    EXPECT_EQ(RaisedText(11004), "[11004] Valid name, no data record of requested type");
}

TEST(SocketErrorText, EveryStoredTextCarriesItsOwnCode) {
    // A shifted row in the table would show as a text whose bracket disagrees with its code.
    int found = 0;
    for (int code = 10001; code < 11100; ++code) {
        auto text = SocketErrorText(code);
        if (!text) continue;
        ++found;
        EXPECT_EQ(text->rfind("[" + std::to_string(code) + "] ", 0), 0u) << *text;
    }
    EXPECT_EQ(found, 51);
}

TEST(SocketErrorText, NamesTheComponentsDecideOnSitOnTheirOwnRows) {
    // The waits and the run driver's "No internet connection available" compare with these
    // names; a name on a neighbouring row would change a decision without changing a text.
    EXPECT_EQ(SocketErrorText(sockerr::WouldBlock), "[10035] Resource temporarily not available");
    EXPECT_EQ(SocketErrorText(sockerr::ConnectionReset), "[10054] Connection reset by peer");
    EXPECT_EQ(SocketErrorText(sockerr::InvalidArgument), "[10022] Invalid argument");
    EXPECT_EQ(SocketErrorText(sockerr::HostNotFound), "[11001] Host not found");
    EXPECT_EQ(SocketErrorText(sockerr::NoData),
              "[11004] Valid name, no data record of requested type");
}

TEST(SocketErrorText, OtherCodesGiveTheNumber) {
    EXPECT_EQ(RaisedText(10001), "Winsock error no 10001");
    EXPECT_EQ(RaisedText(0), "Winsock error no 0");
    EXPECT_EQ(RaisedText(12345), "Winsock error no 12345");
    // The code is read as 16 bits: 10061 + 65536 is still "refused".
    EXPECT_EQ(RaisedText(10061 + 65536), "[10061] Connection refused");
}

TEST(ErrorClasses, EachStandsAloneUnderTheRoot) {
    auto caughtAsEmsError = [](auto raise) {
        try {
            raise();
        } catch (const EmsError&) {
            return true;
        } catch (const Exception&) {
            return false;
        }
        return false;
    };
    EXPECT_FALSE(caughtAsEmsError([] { throw EmsTimedOutError(); }));
    EXPECT_FALSE(caughtAsEmsError([] { throw EmsCanceledError(); }));
    EXPECT_FALSE(caughtAsEmsError([] { throw EmsTooMuchDataError(); }));
    EXPECT_FALSE(caughtAsEmsError([] { RaiseSocketError(10061); }));
    EXPECT_EQ(EmsTimedOutError().Message(), "Operation timed out");
    EXPECT_EQ(EmsCanceledError().Message(), "Operation has been canceled");
    EXPECT_EQ(EmsTooMuchDataError().Message(), "Buffer is full. Will disconnect.");
}

// Runs the event loop until the counter's remaining ticks change, bounded generously.
void WaitForTick(TmsTimeCounter& counter) {
    int before = counter.Remaining();
    for (int i = 0; i < 100000 && counter.Remaining() == before; ++i) {
        plat::Presentation().WaitForSocket(-1, false, false);
        plat::Presentation().ProcessMessages();
    }
}

TEST(TimeCounter, TimesOutAtTheLastTickAndResetClearsIt) {
    TmsTimeCounter counter;
    counter.SetTimeOut(3);
    counter.Start();
    ASSERT_TRUE(counter.Running());
    WaitForTick(counter);
    EXPECT_EQ(counter.Remaining(), 2);
    EXPECT_FALSE(counter.TimedOut());
    WaitForTick(counter);
    EXPECT_FALSE(counter.TimedOut());
    WaitForTick(counter);
    EXPECT_EQ(counter.Remaining(), 0);
    EXPECT_TRUE(counter.TimedOut());

    // Start alone keeps the time-out; Reset clears it and keeps the timer running.
    counter.Stop();
    counter.Start();
    EXPECT_TRUE(counter.TimedOut());
    EXPECT_EQ(counter.Remaining(), 3);
    counter.Reset();
    EXPECT_FALSE(counter.TimedOut());
    EXPECT_TRUE(counter.Running());
    counter.Stop();
    EXPECT_FALSE(counter.Running());
}

TEST(TimeCounter, StoppedCounterGetsNoTicks) {
    TmsTimeCounter counter;
    counter.SetTimeOut(1);
    counter.Start();
    counter.Stop();
    // With the only timer stopped the loop has nothing to wait for and returns at once.
    for (int i = 0; i < 3; ++i) {
        plat::Presentation().WaitForSocket(-1, false, false);
        plat::Presentation().ProcessMessages();
    }
    EXPECT_FALSE(counter.TimedOut());
    EXPECT_EQ(counter.Remaining(), 1);
}

} // namespace
