// PLACEHOLDER: replaced by the real implementation.
#include "LanguageModel.h"

QString toString(UnavailableReason reason)
{
    switch (reason) {
    case UnavailableReason::deviceNotEligible: return QStringLiteral("deviceNotEligible");
    case UnavailableReason::appleIntelligenceNotEnabled: return QStringLiteral("appleIntelligenceNotEnabled");
    case UnavailableReason::modelNotReady: return QStringLiteral("modelNotReady");
    }
    return {};
}

SystemLanguageModel &SystemLanguageModel::defaultModel()
{
    static SystemLanguageModel model;
    return model;
}

Availability SystemLanguageModel::availability() const
{
    return {false, UnavailableReason::deviceNotEligible};
}
