#pragma once

#include <QString>
#include <memory>
#include <optional>

// The on-device language model layer. The program asks it whether the system
// model can be used and, if so, runs replies in sessions that keep their own
// transcript. Linux has no such model: the default model reports itself
// unavailable with deviceNotEligible unless an engine has been installed.

enum class UnavailableReason { deviceNotEligible, appleIntelligenceNotEnabled, modelNotReady };

// The case name: "deviceNotEligible", "appleIntelligenceNotEnabled", "modelNotReady".
QString toString(UnavailableReason reason);

struct Availability
{
    bool available = false;
    std::optional<UnavailableReason> reason;  // set exactly when unavailable
};

class SystemLanguageModel
{
public:
    static SystemLanguageModel &defaultModel();

    // Both read the platform's state afresh on every call.
    Availability availability() const;
    bool isAvailable() const { return availability().available; }
};
