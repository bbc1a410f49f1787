// A served line, attached to (--attach): a Line like any other to the rest
// of the program, so the screen, menu, history, logs, captures, keys,
// pastes and transfers work on it unchanged. Bytes written go to the server
// as data messages, typed, text or exact as SetRules says (it passes the
// writer's to the line and refuses a watcher's with a notice), BREAK, DTR,
// RTS and settings as controls.
//
// On each connect it says hello and receives the snapshot: the screen and
// terminal record are restored into the process's records, the history
// into `history` (emptied first, so a reconnect does not double it), before
// any byte Read gives. Open is InProgress until the server answers the
// hello (Continue then gives Open, or Failed with a refusal's reason); a
// refusal later, or a reopen after one, fails the same way. A TCP host given
// as an address is connected to at once; a name is looked up off the loop's
// thread first (Descriptor is the lookup's meanwhile), and each address it
// gives is tried in turn. A name that does not resolve, or no address that
// takes the connect, is Missing, so the open is tried again. Everything else
// the server says (roles, the roster, notices) is kept in the state read by
// Attached() and said through TakeNote.
#ifndef BRISVANE_CONSOLE_SERVE_ATTACH_LINE_H
#define BRISVANE_CONSOLE_SERVE_ATTACH_LINE_H

#include <cstdint>

#include "console/rules/history.h"
#include "console/line/line.h"
#include "console/line/resolver.h"
#include "console/rules/notice.h"
#include "console/rules/output_pump.h"
#include "console/rules/snapshot.h"
#include "console/rules/wire.h"
#include "console/rules/share_address.h"
#include "console/rules/share_buffer.h"

struct AttachState {
    bool welcomed = false;  // the server took us (role and id are its)
    WireRole role = WireRole::Watching;
    uint16_t id = 0;
    WireRoster roster = {};
    bool snapshotComplete = false;
    // The served line as the server last told it: its settings in force,
    // whether its device is there. `lineChanged`: told since TakeLineState.
    bool rosterAnswered = false;  // the roster asked for with AskWho has come
    bool lineKnown = false;
    bool lineChanged = false;
    WireLineState line = {};
};

class AttachLine : public Line {
public:
    // `hello` is sent on every connect; `history` receives the server's.
    AttachLine(const ShareAddress& address, const WireHello& hello, History& history);
    ~AttachLine() override;

    OpenResult Open(const LineControls& controls, char* message, unsigned capacity) override;
    OpenResult Continue(short revents, char* message, unsigned capacity) override;
    void Close() override;
    int Descriptor() const override { return resolving_ ? resolver_.Descriptor() : fd_; }
    short PollEvents(bool haveOutput) const override;
    IoResult Read(uint8_t* data, unsigned capacity, unsigned* count) override;
    IoResult Write(const uint8_t* data, unsigned length, unsigned* count) override;
    ControlResult Apply(const LineControls& controls, char* problem, unsigned capacity) override;
    ControlResult SetBreak(bool on) override;
    ControlResult SetModemOutput(ModemOutput which, bool on) override;
    ControlResult ReadModemLines(ModemLines* lines) override;
    const char* Awaiting() const override { return resolving_ ? "the name lookup" : "the served line"; }
    bool TakeNote(char* text, unsigned capacity) override;
    bool HasSettings() const override { return true; }
    const char* Name() const override { return name_; }

    const AttachState& Attached() const { return state_; }
    // The served line's state, once per change the server told (a writer's
    // change of settings is also said as a note, unless it was ours).
    bool TakeLineState(WireLineState* line);
    // Asks for the roster as it is now (idle times and all): rosterAnswered
    // says when it has come, until TakeRosterAnswer.
    void AskWho();
    bool TakeRosterAnswer();
    // Asks for the line (Take) or hands it back (Give).
    void Ask(WireType takeOrGive);
    // Others attached beside us.
    unsigned Others() const;
    // What the next Write gives: exact bytes (Data), the user's typing for
    // the served line's maps and bit 7 (Typed), or a text file's bytes for
    // its bit 7 alone (TypedText).
    void SetRules(StageRules rules) { rules_ = rules; }
    // How much of the server's history to keep: all of it (at least `rows`)
    // unless `given` (the user's own --history), when `rows` is the most,
    // and a server that holds more is said so.
    void SetHistoryRule(uint32_t rows, bool given) {
        historyRows_ = rows;
        historyGiven_ = given;
    }
    // The receive chain's stages the snapshot sets, so the first bytes after
    // it meet them as the server's did.
    void SetSeam(const ReceiveSeam& seam) { seam_ = seam; }

private:
    OpenResult ConnectNext(int error, char* message, unsigned capacity);
    OpenResult Greet();
    bool Queue(const uint8_t* message, unsigned length);
    bool Flush();  // false: the connection is gone
    void Handle(const WireMessage& message);
    void KeepHistory(uint64_t serverRows);
    void Note(const char* format, ...) __attribute__((format(printf, 2, 3)));
    ControlResult SendControl(WireControl control, uint8_t value, const char* settings);

    ShareAddress address_;
    WireHello hello_;
    History& history_;
    char name_[sizeof(ShareAddress::host) + 8];
    int fd_ = -1;
    Resolver resolver_;
    bool resolving_ = false;            // the TCP host's name is being looked up
    ResolvedAddresses addresses_ = {};  // the TCP host's, tried in turn
    unsigned nextAddress_ = 0;
    bool connecting_ = false;  // the connect is under way
    bool greeting_ = false;    // the hello is sent: waiting for the answer
    WireDecoder decoder_;
    ShareBuffer out_;
    uint8_t data_[WireMaxPayload];  // a data message's bytes not yet read
    unsigned dataStart_ = 0, dataEnd_ = 0;
    SnapshotRestore restore_;
    ReceiveSeam seam_;
    AttachState state_;
    char refusal_[WireTextCapacity] = "";
    bool lost_ = false;
    bool whoAsked_ = false;
    uint32_t historyRows_ = 0;
    bool historyGiven_ = true;  // until told otherwise: the history's own capacity
    StageRules rules_ = StageRules::Exact;
    char note_[NoticeCapacity] = "";
};

#endif
