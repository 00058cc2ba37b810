// The browser, CPU, engine and operating-system rule tables, in priority order: the first pattern that
// matches decides. Patterns are kept exactly as written for ICU (see UAPattern); keep them byte for byte when
// editing.
#include "useragent/UARules.h"

namespace ua {

const std::vector<Rule>& browserRules() {
    static const std::vector<Rule> rules = {
        // B1
        Rule({QStringLiteral(R"~((opera\smini)\/([\w\.-]+))~"),
              QStringLiteral(R"~((opera\s[mobiletab]+).+version\/([\w\.-]+))~"),
              QStringLiteral(R"~((opera).+version\/([\w\.]+))~"),
              QStringLiteral(R"~((opera)[\/\s]+([\w\.]+))~")},
             {Funcs::r(Key::Name), Funcs::r(Key::Version)}),
        // B2
        Rule({QStringLiteral(R"~((opios)[\/\s]+([\w\.]+))~")},
             {Funcs::rf(Key::Name, QStringLiteral(R"~(Opera Mini)~")), Funcs::r(Key::Version)}),
        // B3
        Rule({QStringLiteral(R"~(\s(opr)\/([\w\.]+))~")},
             {Funcs::rf(Key::Name, QStringLiteral(R"~(Opera)~")), Funcs::r(Key::Version)}),
        // B4
        Rule(
            {QStringLiteral(R"~((kindle)\/([\w\.]+))~"),
             QStringLiteral(R"~((lunascape|maxthon|netfront|jasmine|blazer)[\/\s]?([\w\.]+)*)~"),
             QStringLiteral(R"~((avant\s|iemobile|slim|baidu)(?:browser)?[\/\s]?([\w\.]*))~"),
             QStringLiteral(R"~((?:ms|\()(ie)\s([\w\.]+))~"), QStringLiteral(R"~((rekonq)\/([\w\.]+)*)~"),
             QStringLiteral(
                 R"~((chromium|flock|rockmelt|midori|epiphany|silk|skyfire|ovibrowser|bolt|iron|vivaldi|iridium|phantomjs|bowser)\/([\w\.-]+))~")},
            {Funcs::r(Key::Name), Funcs::r(Key::Version)}),
        // B5
        Rule({QStringLiteral(R"~((trident).+rv[:\s]([\w\.]+).+like\sgecko)~")},
             {Funcs::rf(Key::Name, QStringLiteral(R"~(IE)~")), Funcs::r(Key::Version)}),
        // B6
        Rule({QStringLiteral(R"~((edge)\/((\d+)?[\w\.]+))~")}, {Funcs::r(Key::Name), Funcs::r(Key::Version)}),
        // B7
        Rule({QStringLiteral(R"~((yabrowser)\/([\w\.]+))~")},
             {Funcs::rf(Key::Name, QStringLiteral(R"~(Yandex)~")), Funcs::r(Key::Version)}),
        // B8
        Rule({QStringLiteral(R"~((puffin)\/([\w\.]+))~")},
             {Funcs::rf(Key::Name, QStringLiteral(R"~(Puffin)~")), Funcs::r(Key::Version)}),
        // B9
        Rule({QStringLiteral(R"~(((?:[\s\/])uc?\s?browser|(?:juc.+)ucweb)[\/\s]?([\w\.]+))~")},
             {Funcs::rf(Key::Name, QStringLiteral(R"~(UCBrowser)~")), Funcs::r(Key::Version)}),
        // B10
        Rule({QStringLiteral(R"~((comodo_dragon)\/([\w\.]+))~")},
             {Funcs::rp(Key::Name, QStringLiteral(R"~(_)~"), QStringLiteral(R"~( )~")),
              Funcs::r(Key::Version)}),
        // B11
        Rule({QStringLiteral(R"~((micromessenger)\/([\w\.]+))~")},
             {Funcs::rf(Key::Name, QStringLiteral(R"~(WeChat)~")), Funcs::r(Key::Version)}),
        // B12
        Rule({QStringLiteral(R"~((QQ)\/([\d\.]+))~")}, {Funcs::r(Key::Name), Funcs::r(Key::Version)}),
        // B13
        Rule({QStringLiteral(R"~(m?(qqbrowser)[\/\s]?([\w\.]+))~")},
             {Funcs::r(Key::Name), Funcs::r(Key::Version)}),
        // B14
        Rule({QStringLiteral(R"~(xiaomi\/miuibrowser\/([\w\.]+))~")},
             {Funcs::r(Key::Version), Funcs::rf(Key::Name, QStringLiteral(R"~(MIUI Browser)~"))}),
        // B15
        Rule({QStringLiteral(R"~(;fbav\/([\w\.]+);)~")},
             {Funcs::r(Key::Version), Funcs::rf(Key::Name, QStringLiteral(R"~(Facebook)~"))}),
        // B16
        Rule({QStringLiteral(R"~(headlesschrome(?:\/([\w\.]+)|\s))~")},
             {Funcs::r(Key::Version), Funcs::rf(Key::Name, QStringLiteral(R"~(Chrome Headless)~"))}),
        // B17
        Rule({QStringLiteral(R"~(\swv\).+(chrome)\/([\w\.]+))~")},
             {Funcs::rp(Key::Name, QStringLiteral(R"~((.+))~"), QStringLiteral(R"~($1 WebView)~")),
              Funcs::r(Key::Version)}),
        // B18
        Rule({QStringLiteral(R"~(((?:oculus|samsung)browser)\/([\w\.]+))~")},
             {Funcs::rp(Key::Name, QStringLiteral(R"~((.+(?:g|us))(.+))~"), QStringLiteral(R"~($1 $2)~")),
              Funcs::r(Key::Version)}),
        // B19
        Rule({QStringLiteral(R"~(android.+version\/([\w\.]+)\s+(?:mobile\s?safari|safari)*)~")},
             {Funcs::r(Key::Version), Funcs::rf(Key::Name, QStringLiteral(R"~(Android Browser)~"))}),
        // B20
        Rule({QStringLiteral(R"~((chrome|omniweb|arora|[tizenoka]{5}\s?browser)\/v?([\w\.]+))~")},
             {Funcs::r(Key::Name), Funcs::r(Key::Version)}),
        // B21
        Rule({QStringLiteral(R"~((dolfin)\/([\w\.]+))~")},
             {Funcs::rf(Key::Name, QStringLiteral(R"~(Dolphin)~")), Funcs::r(Key::Version)}),
        // B22
        Rule({QStringLiteral(R"~(((?:android.+)crmo|crios)\/([\w\.]+))~")},
             {Funcs::rf(Key::Name, QStringLiteral(R"~(Chrome)~")), Funcs::r(Key::Version)}),
        // B23
        Rule({QStringLiteral(R"~((coast)\/([\w\.]+))~")},
             {Funcs::rf(Key::Name, QStringLiteral(R"~(Opera Coast)~")), Funcs::r(Key::Version)}),
        // B24
        Rule({QStringLiteral(R"~(fxios\/([\w\.-]+))~")},
             {Funcs::r(Key::Version), Funcs::rf(Key::Name, QStringLiteral(R"~(Firefox)~"))}),
        // B25
        Rule({QStringLiteral(R"~(version\/([\w\.]+).+?mobile\/\w+\s(safari))~")},
             {Funcs::r(Key::Version), Funcs::rf(Key::Name, QStringLiteral(R"~(Mobile Safari)~"))}),
        // B26
        Rule({QStringLiteral(R"~(version\/([\w\.]+).+?(mobile\s?safari|safari))~")},
             {Funcs::r(Key::Version), Funcs::r(Key::Name)}),
        // B27
        Rule({QStringLiteral(R"~(webkit.+?(gsa)\/([\w\.]+).+?(mobile\s?safari|safari)(\/[\w\.]+))~")},
             {Funcs::rf(Key::Name, QStringLiteral(R"~(GSA)~")), Funcs::r(Key::Version)}),
        // B28
        Rule({QStringLiteral(R"~(webkit.+?(mobile\s?safari|safari)(\/[\w\.]+))~")},
             {Funcs::r(Key::Name), Funcs::mp(Key::Version, oldSafariMap())}),
        // B29
        Rule(
            {QStringLiteral(R"~((konqueror)\/([\w\.]+))~"), QStringLiteral(R"~((webkit|khtml)\/([\w\.]+))~")},
            {Funcs::r(Key::Name), Funcs::r(Key::Version)}),
        // B30
        Rule({QStringLiteral(R"~((navigator|netscape)\/([\w\.-]+))~")},
             {Funcs::rf(Key::Name, QStringLiteral(R"~(Netscape)~")), Funcs::r(Key::Version)}),
        // B31
        Rule(
            {QStringLiteral(R"~((swiftfox))~"),
             QStringLiteral(
                 R"~((icedragon|iceweasel|camino|chimera|fennec|maemo\sbrowser|minimo|conkeror)[\/\s]?([\w\.\+]+))~"),
             QStringLiteral(R"~((firefox|seamonkey|k-meleon|icecat|iceape|firebird|phoenix)\/([\w\.-]+))~"),
             QStringLiteral(R"~((mozilla)\/([\w\.]+).+rv\:.+gecko\/\d+)~"),
             QStringLiteral(
                 R"~((polaris|lynx|dillo|icab|doris|amaya|w3m|netsurf|sleipnir)[\/\s]?([\w\.]+))~"),
             QStringLiteral(R"~((links)\s\(([\w\.]+))~"), QStringLiteral(R"~((gobrowser)\/?([\w\.]+)*)~"),
             QStringLiteral(R"~((ice\s?browser)\/v?([\w\._]+))~"),
             QStringLiteral(R"~((mosaic)[\/\s]([\w\.]+))~")},
            {Funcs::r(Key::Name), Funcs::r(Key::Version)}),
    };
    return rules;
}

const std::vector<Rule>& cpuRules() {
    static const std::vector<Rule> rules = {
        // C1
        Rule({QStringLiteral(R"~((?:(amd|x(?:(?:86|64)[_-])?|wow|win)64)[;\)])~")},
             {Funcs::rf(Key::Arch, QStringLiteral(R"~(amd64)~"))}),
        // C2
        Rule({QStringLiteral(R"~((ia32(?=;)))~")}, {Funcs::r(Key::Arch)}),
        // C3
        Rule({QStringLiteral(R"~(((?:i[346]|x)86)[;\)])~")},
             {Funcs::rf(Key::Arch, QStringLiteral(R"~(ia32)~"))}),
        // C4
        Rule({QStringLiteral(R"~(windows\s(ce|mobile);\sppc;)~")},
             {Funcs::rf(Key::Arch, QStringLiteral(R"~(arm)~"))}),
        // C5
        Rule({QStringLiteral(R"~(((?:ppc|powerpc)(?:64)?)(?:\smac|;|\)))~")},
             {Funcs::rp(Key::Arch, QStringLiteral(R"~(ower)~"), QStringLiteral(R"~()~"))}),
        // C6
        Rule({QStringLiteral(R"~((sun4\w)[;\)])~")}, {Funcs::rf(Key::Arch, QStringLiteral(R"~(sparc)~"))}),
        // C7
        Rule(
            {QStringLiteral(
                R"~(((?:avr32|ia64(?=;))|68k(?=\))|arm(?:64|(?=v\d+;))|(?=atmel\s)avr|(?:irix|mips|sparc)(?:64)?(?=;)|pa-risc))~")},
            {Funcs::r(Key::Arch)}),
    };
    return rules;
}

const std::vector<Rule>& engineRules() {
    static const std::vector<Rule> rules = {
        // E1
        Rule({QStringLiteral(R"~(windows.+\sedge\/([\w\.]+))~")},
             {Funcs::r(Key::Version), Funcs::rf(Key::Name, QStringLiteral(R"~(EdgeHTML)~"))}),
        // E2
        Rule({QStringLiteral(R"~((presto)\/([\w\.]+))~"),
              QStringLiteral(R"~((webkit|trident|netfront|netsurf|amaya|lynx|w3m)\/([\w\.]+))~"),
              QStringLiteral(R"~((khtml|tasman|links)[\/\s]\(?([\w\.]+))~"),
              QStringLiteral(R"~((icab)[\/\s]([23]\.[\d\.]+))~")},
             {Funcs::r(Key::Name), Funcs::r(Key::Version)}),
        // E3
        Rule({QStringLiteral(R"~(rv\:([\w\.]+).*(gecko))~")}, {Funcs::r(Key::Version), Funcs::r(Key::Name)}),
    };
    return rules;
}

const std::vector<Rule>& osRules() {
    static const std::vector<Rule> rules = {
        // O1
        Rule({QStringLiteral(R"~(microsoft\s(windows)\s(vista|xp))~")},
             {Funcs::r(Key::Name), Funcs::r(Key::Version)}),
        // O2
        Rule({QStringLiteral(R"~((windows)\snt\s6\.2;\s(arm))~"),
              QStringLiteral(R"~((windows\sphone(?:\sos)*)[\s\/]?([\d\.\s]+\w)*)~"),
              QStringLiteral(R"~((windows\smobile|windows)[\s\/]?([ntce\d\.\s]+\w))~")},
             {Funcs::r(Key::Name), Funcs::mp(Key::Version, windowsOSMap())}),
        // O3
        Rule({QStringLiteral(R"~((win(?=3|9|n)|win\s9x\s)([nt\d\.]+))~")},
             {Funcs::rf(Key::Name, QStringLiteral(R"~(windows)~")), Funcs::mp(Key::Version, windowsOSMap())}),
        // O4
        Rule({QStringLiteral(R"~(\((bb)(10);)~")},
             {Funcs::rf(Key::Name, QStringLiteral(R"~(blackberry)~")), Funcs::r(Key::Version)}),
        // O5
        Rule({QStringLiteral(R"~((blackberry)\w*\/?([\w\.]+)*)~"),
              QStringLiteral(R"~((tizen)[\/\s]([\w\.]+))~"),
              QStringLiteral(
                  R"~((android|webos|palm\sos|qnx|bada|rim\stablet\sos|meego|contiki)[\/\s-]?([\w\.]+)*)~"),
              QStringLiteral(R"~(linux;.+(sailfish);)~")},
             {Funcs::r(Key::Name), Funcs::r(Key::Version)}),
        // O6
        Rule({QStringLiteral(R"~((symbian\s?os|symbos|s60(?=;))[\/\s-]?([\w\.]+)*)~")},
             {Funcs::rf(Key::Name, QStringLiteral(R"~(symbian)~")), Funcs::r(Key::Version)}),
        // O7
        Rule({QStringLiteral(R"~(\((series40);)~")}, {Funcs::r(Key::Name)}),
        // O8
        Rule({QStringLiteral(R"~(mozilla.+\(mobile;.+gecko.+firefox)~")},
             {Funcs::rf(Key::Name, QStringLiteral(R"~(firefox os)~")), Funcs::r(Key::Version)}),
        // O9
        Rule(
            {QStringLiteral(R"~((nintendo|playstation)\s([wids34portablevu]+))~"),
             QStringLiteral(R"~((mint)[\/\s\(]?(\w+)*)~"), QStringLiteral(R"~((mageia|vectorlinux)[;\s])~"),
             QStringLiteral(
                 R"~((joli|[kxln]?ubuntu|debian|[open]*suse|gentoo|(?=\s)arch|slackware|fedora|mandriva|centos|pclinuxos|redhat|zenwalk|linpus)[\/\s-]?(?!chrom)([\w\.-]+)*)~"),
             QStringLiteral(R"~((hurd|linux)\s?([\w\.]+)*)~"), QStringLiteral(R"~((gnu)\s?([\w\.]+)*)~")},
            {Funcs::r(Key::Name), Funcs::r(Key::Version)}),
        // O10
        Rule({QStringLiteral(R"~((cros)\s[\w]+\s([\w\.]+\w))~")},
             {Funcs::rf(Key::Name, QStringLiteral(R"~(chromium os)~")), Funcs::r(Key::Version)}),
        // O11
        Rule({QStringLiteral(R"~((sunos)\s?([\w\.]+\d)*)~")},
             {Funcs::rf(Key::Name, QStringLiteral(R"~(solaris)~")), Funcs::r(Key::Version)}),
        // O12
        Rule({QStringLiteral(R"~(\s([frentopc-]{0,4}bsd|dragonfly)\s?([\w\.]+)*)~")},
             {Funcs::r(Key::Name), Funcs::r(Key::Version)}),
        // O13
        Rule({QStringLiteral(R"~((haiku)\s(\w+))~")}, {Funcs::r(Key::Name), Funcs::r(Key::Version)}),
        // O14
        Rule({QStringLiteral(R"~(cfnetwork\/.+darwin)~"),
              QStringLiteral(R"~(ip[honead]+(?:.*os\s([\w]+)\slike\smac|;\sopera))~")},
             {Funcs::rp(Key::Version, QStringLiteral(R"~(_)~"), QStringLiteral(R"~(.)~")),
              Funcs::rf(Key::Name, QStringLiteral(R"~(ios)~"))}),
        // O15
        Rule({QStringLiteral(R"~((mac\sos\sx)\s?([\w\s\.]+\w)*)~"),
              QStringLiteral(R"~((macintosh|mac(?=_powerpc)\s))~")},
             {Funcs::rf(Key::Name, QStringLiteral(R"~(mac os)~")),
              Funcs::rp(Key::Version, QStringLiteral(R"~(_)~"), QStringLiteral(R"~(.)~"))}),
        // O16
        Rule({QStringLiteral(R"~(((?:open)?solaris)[\/\s-]?([\w\.]+)*)~"),
              QStringLiteral(R"~((aix)\s((\d)(?=\.|\)|\s)[\w\.]*)*)~"),
              QStringLiteral(R"~((plan\s9|minix|beos|os\/2|amigaos|morphos|risc\sos|openvms))~"),
              QStringLiteral(R"~((unix)\s?([\w\.]+)*)~")},
             {Funcs::r(Key::Name), Funcs::r(Key::Version)}),
    };
    return rules;
}

} // namespace ua
