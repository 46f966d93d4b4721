#include "DeckLinkDevice.h"

#include "Log.h"
#include "VirtualDeckLink.h"

#include <cstdlib>

namespace decklink {

const std::vector<DisplayMode>& displayModes()
{
    static const std::vector<DisplayMode> modes = {
        {"NTSC", fourCC("ntsc"), 30000, 1001, 2, 720, 486},
        {"NTSC 23.98", fourCC("nt23"), 24000, 1001, 2, 720, 486},
        {"NTSC Progressive", fourCC("ntsp"), 60000, 1001, 1, 720, 486},
        {"PAL", fourCC("pal "), 25000, 1000, 2, 720, 576},
        {"PAL Progressive", fourCC("palp"), 50000, 1000, 1, 720, 576},
        {"720p 50fps", fourCC("hp50"), 50000, 1000, 1, 1280, 720},
        {"720p 59.94fps", fourCC("hp59"), 60000, 1001, 1, 1280, 720},
        {"720p 60fps", fourCC("hp60"), 60000, 1000, 1, 1280, 720},
        {"1080p 23.98fps", fourCC("23ps"), 24000, 1001, 1, 1920, 1080},
        {"1080p 24fps", fourCC("24ps"), 24000, 1000, 1, 1920, 1080},
        {"1080p 25fps", fourCC("Hp25"), 25000, 1000, 1, 1920, 1080},
        {"1080p 29.97fps", fourCC("Hp29"), 30000, 1001, 1, 1920, 1080},
        {"1080p 30fps", fourCC("Hp30"), 30000, 1000, 1, 1920, 1080},
        {"1080p 50fps", fourCC("Hp50"), 50000, 1000, 1, 1920, 1080},
        {"1080p 59.94fps", fourCC("Hp59"), 60000, 1001, 1, 1920, 1080},
        {"1080p 60fps", fourCC("Hp60"), 60000, 1000, 1, 1920, 1080},
        {"1080i 50fps", fourCC("Hi50"), 25000, 1000, 2, 1920, 1080},
        {"1080i 59.94fps", fourCC("Hi59"), 30000, 1001, 2, 1920, 1080},
        {"1080i 60fps", fourCC("Hi60"), 30000, 1000, 2, 1920, 1080},
        {"2K 23.98fps", fourCC("2k23"), 24000, 1001, 1, 2048, 1556},
        {"2K 24fps", fourCC("2k24"), 24000, 1000, 1, 2048, 1556},
        {"2K 25fps", fourCC("2k25"), 25000, 1000, 1, 2048, 1556},
        {"2K DCI 23.98fps", fourCC("2d23"), 24000, 1001, 1, 2048, 1080},
        {"2K DCI 24fps", fourCC("2d24"), 24000, 1000, 1, 2048, 1080},
        {"2K DCI 25fps", fourCC("2d25"), 25000, 1000, 1, 2048, 1080},
        {"2K DCI 29.97fps", fourCC("2d29"), 30000, 1001, 1, 2048, 1080},
        {"2K DCI 30fps", fourCC("2d30"), 30000, 1000, 1, 2048, 1080},
        {"2K DCI 50fps", fourCC("2d50"), 50000, 1000, 1, 2048, 1080},
        {"2K DCI 59.94fps", fourCC("2d59"), 60000, 1001, 1, 2048, 1080},
        {"2K DCI 60fps", fourCC("2d60"), 60000, 1000, 1, 2048, 1080},
        {"2160p 23.98fps", fourCC("4k23"), 24000, 1001, 1, 3840, 2160},
        {"2160p 24fps", fourCC("4k24"), 24000, 1000, 1, 3840, 2160},
        {"2160p 25fps", fourCC("4k25"), 25000, 1000, 1, 3840, 2160},
        {"2160p 29.97fps", fourCC("4k29"), 30000, 1001, 1, 3840, 2160},
        {"2160p 30fps", fourCC("4k30"), 30000, 1000, 1, 3840, 2160},
        {"2160p 50fps", fourCC("4k50"), 50000, 1000, 1, 3840, 2160},
        {"2160p 59.94fps", fourCC("4k59"), 60000, 1001, 1, 3840, 2160},
        {"2160p 60fps", fourCC("4k60"), 60000, 1000, 1, 3840, 2160},
        {"4K DCI 23.98fps", fourCC("4d23"), 24000, 1001, 1, 4096, 2160},
        {"4K DCI 24fps", fourCC("4d24"), 24000, 1000, 1, 4096, 2160},
        {"4K DCI 25fps", fourCC("4d25"), 25000, 1000, 1, 4096, 2160},
        {"4K DCI 29.97fps", fourCC("4d29"), 30000, 1001, 1, 4096, 2160},
        {"4K DCI 30fps", fourCC("4d30"), 30000, 1000, 1, 4096, 2160},
        {"4K DCI 50fps", fourCC("4d50"), 50000, 1000, 1, 4096, 2160},
        {"4K DCI 59.94fps", fourCC("4d59"), 60000, 1001, 1, 4096, 2160},
        {"4K DCI 60fps", fourCC("4d60"), 60000, 1000, 1, 4096, 2160},
        {"4320p 23.98fps", fourCC("8k23"), 24000, 1001, 1, 7680, 4320},
        {"4320p 24fps", fourCC("8k24"), 24000, 1000, 1, 7680, 4320},
        {"4320p 25fps", fourCC("8k25"), 25000, 1000, 1, 7680, 4320},
        {"4320p 29.97fps", fourCC("8k29"), 30000, 1001, 1, 7680, 4320},
        {"4320p 30fps", fourCC("8k30"), 30000, 1000, 1, 7680, 4320},
        {"4320p 50fps", fourCC("8k50"), 50000, 1000, 1, 7680, 4320},
        {"4320p 59.94fps", fourCC("8k59"), 60000, 1001, 1, 7680, 4320},
        {"4320p 60fps", fourCC("8k60"), 60000, 1000, 1, 7680, 4320},
    };
    return modes;
}

std::unique_ptr<DeckLinkDeviceBrowser> createDeviceBrowser()
{
    const char* virtualCount = std::getenv("KAVIO_VIRTUAL_DECKLINK");
    if (virtualCount && *virtualCount) {
        const int count = std::atoi(virtualCount);
        if (count >= 0 && count <= 64) {
            KLOG_INFO("DeckLink: {} virtual devices", count);
            return std::make_unique<VirtualDeckLinkBrowser>(count);
        }
        KLOG_WARN("DeckLink: KAVIO_VIRTUAL_DECKLINK=\"{}\" is not a count of 0 to 64", virtualCount);
    }
    return nullptr;
}

std::string apiVersion()
{
    return "virtual 1.0 (no DeckLink driver on this system)";
}

}  // namespace decklink
