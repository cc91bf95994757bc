// The VM ports of the simulated boards: boards of one VM ring (BoardSpec::vmRing) are
// joined, and a send on one Orlo's engine moves its lines into the memory of the engine
// armed as a receiver on the same port number of another Orlo of the ring (or of the same
// board).  The receiver is armed first (transfer kind 0); the sender (kind 1) then runs
// for the bytes at the port's clock, and at its end both Orlos raise their transfer-done
// source.  A sender whose receiver is not armed waits, without end, until a receiver
// arms or a reset pulse stops it; a sender of an engine set never to end hangs so too.
//
// Called from VmTransferEngine with SimState::mutex held.
#pragma once

#include "simvmxfer.h"

namespace boardsim {

class VmPort {
public:
    // The timing control started a receive (kind 0) or a send (kind 1).
    static void arm(VmTransferEngine& receiver);
    static void send(VmTransferEngine& sender);
    // A reset pulse: a waiting sender or an armed receiver forgets its transfer.
    static void reset(VmTransferEngine& engine);

private:
    static VmTransferEngine::Latched latch(const VmTransferEngine& engine);
    static VmTransferEngine* findReceiver(VmTransferEngine& sender, uint32_t port);
    static void start(VmTransferEngine& sender, VmTransferEngine& receiver);
    static void move(VmTransferEngine& sender, VmTransferEngine& receiver);
};

} // namespace boardsim
