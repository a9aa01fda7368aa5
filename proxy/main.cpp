#include <string>

#include <sievekit/CProxyConfig.h>

#include "service/ServiceHost.h"

int main(int argc, char** argv) {
    ProxyConfig();  // the one configuration object exists before the entry runs
    std::string commandLine;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) commandLine += ' ';
        commandLine += argv[i];
    }
    return ProxyEntry(commandLine);
}
