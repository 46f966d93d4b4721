#include "Remote/KavioHyperDeckServer.h"

#include "ZelmoraDelegate.h"
#include "ZelmoraServer.h"

KavioHyperDeckServer::KavioHyperDeckServer() : server_(ZelmoraServer::sharedServer()) {}

void KavioHyperDeckServer::setDelegate(std::weak_ptr<ZelmoraDelegate> delegate) { server_.setDelegate(std::move(delegate)); }

void KavioHyperDeckServer::refreshPlaylist() { server_.refreshPlaylist(); }

bool KavioHyperDeckServer::start() { return server_.start(); }

void KavioHyperDeckServer::stop() { server_.stop(); }
