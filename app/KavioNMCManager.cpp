#include "KavioNMCManager.h"

KavioNMCManager& KavioNMCManager::sharedManager()
{
    static KavioNMCManager manager;
    return manager;
}

// No master exists yet (see the header): the sends leave everything as it is.
void KavioNMCManager::sendPlayOnLocation(const QString&, uint8_t, uint8_t) {}
void KavioNMCManager::sendStopOnLocation(const QString&, uint8_t, uint8_t) {}
void KavioNMCManager::sendLocateOnLocation(const QString&, uint8_t, uint8_t) {}

bool KavioNMCManager::shouldSkipSendingNextLocate() const
{
    return shouldSkipSendingNextLocate_.load();
}

void KavioNMCManager::setShouldSkipSendingNextLocate(bool skip)
{
    shouldSkipSendingNextLocate_.store(skip);
}
