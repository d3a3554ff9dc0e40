// The listening side: one socket on the configured port, kept open across
// calls; negotiation against a service list; accepting and rejecting.
#include "../limits.h"
#include "net.h"

#include <cstdlib>
#include <set>

namespace zyl::toolkit::net {
namespace {

struct Listener {
    std::mutex mutex;  // one waiter at a time on the socket
    T_ASC_Network* network = nullptr;
    int port = 0;
    ~Listener() {
        if (network) ASC_dropNetwork(&network);
    }
};

Listener& listener() {
    static Listener instance;
    return instance;
}

void reject(T_ASC_Association* association, T_ASC_RejectParametersResult result,
            T_ASC_RejectParametersSource source, T_ASC_RejectParametersReason reason) {
    T_ASC_RejectParameters parameters{result, source, reason};
    ASC_rejectAssociation(association, &parameters);
}

// Accepts every context whose SOP class the list offers, with the first of the
// caller's transfer syntaxes that the service allows. Returns how many.
int negotiate(T_ASC_Parameters* params, const std::vector<ContextOffer>& offers) {
    int accepted = 0;
    const int count = ASC_countPresentationContexts(params);
    for (int i = 0; i < count; ++i) {
        T_ASC_PresentationContext pc;
        if (ASC_getPresentationContext(params, i, &pc).bad()) continue;
        std::set<std::string> allowed;
        for (const auto& offer : offers)
            if (offer.sopClassUid == pc.abstractSyntax) allowed.insert(offer.syntaxUids.begin(), offer.syntaxUids.end());
        if (allowed.empty()) {
            ASC_refusePresentationContext(params, pc.presentationContextID, ASC_P_ABSTRACTSYNTAXNOTSUPPORTED);
            continue;
        }
        const char* chosen = nullptr;
        for (int k = 0; k < pc.transferSyntaxCount && !chosen; ++k)
            if (allowed.count(pc.proposedTransferSyntaxes[k])) chosen = pc.proposedTransferSyntaxes[k];
        if (!chosen) {
            ASC_refusePresentationContext(params, pc.presentationContextID, ASC_P_TRANSFERSYNTAXESNOTSUPPORTED);
            continue;
        }
        if (ASC_acceptPresentationContext(params, pc.presentationContextID, chosen).good()) ++accepted;
    }
    return accepted;
}

int listenPort() {
    char text[32] = {};
    if (MC_Get_String_Config_Value(MC_CFG_TCPIP_LISTEN_PORT, sizeof text, text) != MC_NORMAL_COMPLETION)
        fail(MC_CONFIG_INFO_ERROR);
    const int port = std::atoi(text);
    if (port <= 0 || port > 65535) fail(MC_INVALID_PORT_NUMBER);
    return port;
}

}  // namespace
}  // namespace zyl::toolkit::net

using namespace zyl::toolkit;
using namespace zyl::toolkit::net;

extern "C" {

MC_STATUS MC_Wait_For_Association(const char* serviceListName, int timeoutSeconds, int* applicationId,
                                  int* associationId) {
    return guarded([&] {
        requireInitialized();
        if (!serviceListName || !applicationId || !associationId) return MC_NULL_POINTER_PARM;
        if (timeoutSeconds < 0) return MC_MUST_BE_POSITIVE;
        const std::vector<ContextOffer> offers = resolveServiceList(serviceListName);
        prepareNetwork();
        auto a = std::make_shared<Association>();
        {
            Listener& l = listener();
            std::lock_guard lock(l.mutex);
            const int port = listenPort();
            if (!l.network || l.port != port) {
                if (l.network) ASC_dropNetwork(&l.network);
                // The network's time limit bounds how long a caller that connects
                // and sends nothing can hold up this call.
                const OFCondition cond =
                    ASC_initializeNetwork(NET_ACCEPTOR, port, configuredSeconds(MC_CFG_REQUEST_TIMEOUT), &l.network);
                if (cond.bad()) {
                    l.network = nullptr;
                    failWith(MC_NEGOTIATION_ABORTED, "cannot listen on TCP port " + std::to_string(port) + " (" +
                                                         std::string(cond.text()) + ")");
                }
                l.port = port;
            }
            const OFCondition cond = ASC_receiveAssociation(l.network, &a->association, limits::kMaxReceivePduSize,
                                                            nullptr, nullptr, OFFalse, DUL_NOBLOCK, timeoutSeconds);
            if (cond == DUL_NOASSOCIATIONREQUEST) return MC_TIMEOUT;
            if (cond.bad()) {
                if (cond.code() == DULC_READTIMEOUT)
                    failWith(MC_NEGOTIATION_ABORTED, "a caller connected but sent no association request in time");
                failWith(MC_NEGOTIATION_ABORTED, "the association request failed (" + std::string(cond.text()) + ")");
            }
        }
        T_ASC_Parameters* params = a->association->params;
        const std::string called = trimmed(params->DULparams.calledAPTitle);
        const std::string calling = trimmed(params->DULparams.callingAPTitle);
        auto application = IdTable::instance().findApplication(called);
        if (!application) {
            reject(a->association, ASC_RESULT_REJECTEDPERMANENT, ASC_SOURCE_SERVICEUSER,
                   ASC_REASON_SU_CALLEDAETITLENOTRECOGNIZED);
            failWith(MC_UNKNOWN_HOST_CONNECTED,
                     "caller " + calling + " asked for AE title " + called + ", which no application registered");
        }
        if (associationCount() >= limits::kMaxAssociations) {
            reject(a->association, ASC_RESULT_REJECTEDTRANSIENT, ASC_SOURCE_SERVICEPROVIDER_PRESENTATION_RELATED,
                   ASC_REASON_SP_PRES_LOCALLIMITEXCEEDED);
            failWith(MC_LIMIT_EXCEEDED, "too many associations open at once; caller " + calling + " rejected");
        }
        if (negotiate(params, offers) == 0) {
            reject(a->association, ASC_RESULT_REJECTEDPERMANENT, ASC_SOURCE_SERVICEUSER, ASC_REASON_SU_NOREASON);
            failWith(MC_NEGOTIATION_ABORTED,
                     "caller " + calling + " proposed no service of list " + std::string(serviceListName));
        }
        setImplementation(params);
        a->applicationId = *application;
        *associationId = addAssociation(a);
        *applicationId = *application;
        return MC_NORMAL_COMPLETION;
    });
}

MC_STATUS MC_Accept_Association(int associationId) {
    return guarded([&] {
        requireInitialized();
        auto a = findAssociation(associationId);
        std::unique_lock lock(a->mutex);
        if (a->requestor || a->acknowledged) return MC_STATE_VIOLATION;
        const OFCondition cond = ASC_acknowledgeAssociation(a->association);
        if (cond.bad()) {
            lock.unlock();
            removeAssociation(associationId);
            failWith(MC_ASSOCIATION_ABORTED, "cannot send the acceptance (" + std::string(cond.text()) + ")");
        }
        a->acknowledged = true;
        tuneSocket(*a);
        return MC_NORMAL_COMPLETION;
    });
}

MC_STATUS MC_Reject_Association(int associationId, MC_REJECT_REASON reason) {
    return guarded([&] {
        requireInitialized();
        auto a = findAssociation(associationId);
        T_ASC_RejectParameters parameters{};
        switch (reason) {
            case MC_REJECT_NO_REASON_GIVEN:
                parameters = {ASC_RESULT_REJECTEDPERMANENT, ASC_SOURCE_SERVICEUSER, ASC_REASON_SU_NOREASON};
                break;
            case MC_REJECT_APPLICATION_CONTEXT_NOT_SUPPORTED:
                parameters = {ASC_RESULT_REJECTEDPERMANENT, ASC_SOURCE_SERVICEUSER,
                              ASC_REASON_SU_APPCONTEXTNAMENOTSUPPORTED};
                break;
            case MC_REJECT_CALLING_AE_NOT_RECOGNIZED:
                parameters = {ASC_RESULT_REJECTEDPERMANENT, ASC_SOURCE_SERVICEUSER,
                              ASC_REASON_SU_CALLINGAETITLENOTRECOGNIZED};
                break;
            case MC_REJECT_CALLED_AE_NOT_RECOGNIZED:
                parameters = {ASC_RESULT_REJECTEDPERMANENT, ASC_SOURCE_SERVICEUSER,
                              ASC_REASON_SU_CALLEDAETITLENOTRECOGNIZED};
                break;
            case MC_REJECT_PROTOCOL_VERSION_NOT_SUPPORTED:
                parameters = {ASC_RESULT_REJECTEDPERMANENT, ASC_SOURCE_SERVICEPROVIDER_ACSE_RELATED,
                              ASC_REASON_SP_ACSE_PROTOCOLVERSIONNOTSUPPORTED};
                break;
            case MC_REJECT_TEMPORARY_CONGESTION:
                parameters = {ASC_RESULT_REJECTEDTRANSIENT, ASC_SOURCE_SERVICEPROVIDER_PRESENTATION_RELATED,
                              ASC_REASON_SP_PRES_TEMPORARYCONGESTION};
                break;
            case MC_REJECT_LOCAL_LIMIT_EXCEEDED:
                parameters = {ASC_RESULT_REJECTEDTRANSIENT, ASC_SOURCE_SERVICEPROVIDER_PRESENTATION_RELATED,
                              ASC_REASON_SP_PRES_LOCALLIMITEXCEEDED};
                break;
            default:
                return MC_VALUE_OUT_OF_RANGE;
        }
        {
            std::lock_guard lock(a->mutex);
            if (a->requestor || a->acknowledged) return MC_STATE_VIOLATION;
            ASC_rejectAssociation(a->association, &parameters);
        }
        removeAssociation(associationId);
        return MC_NORMAL_COMPLETION;
    });
}

}  // extern "C"
