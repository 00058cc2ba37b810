// The device rule table, in priority order: the first pattern that matches decides.
// Patterns are kept exactly as written for ICU (see UAPattern); keep them byte for byte when editing.
#include "useragent/UARules.h"

namespace ua {

const std::vector<Rule>& deviceRules() {
    static const std::vector<Rule> rules = {
        // D1
        Rule({QStringLiteral(R"~(\((ipad|playbook);[\w\s\);-]+(rim|apple))~")},
             {Funcs::r(Key::Model), Funcs::r(Key::Vendor),
              Funcs::rf(Key::Type, QStringLiteral(R"~(tablet)~"))}),
        // D2
        Rule({QStringLiteral(R"~(applecoremedia\/[\w\.]+ \((ipad))~")},
             {Funcs::r(Key::Model), Funcs::rf(Key::Vendor, QStringLiteral(R"~(apple)~")),
              Funcs::rf(Key::Type, QStringLiteral(R"~(tablet)~"))}),
        // D3
        Rule({QStringLiteral(R"~((apple\s{0,1}tv))~")},
             {Funcs::rf(Key::Model, QStringLiteral(R"~(apple tv)~")),
              Funcs::rf(Key::Vendor, QStringLiteral(R"~(apple)~"))}),
        // D4
        Rule({QStringLiteral(R"~((archos)\s(gamepad2?))~"), QStringLiteral(R"~((hp).+(touchpad))~"),
              QStringLiteral(R"~((hp).+(tablet))~"), QStringLiteral(R"~((kindle)\/([\w\.]+))~"),
              QStringLiteral(R"~(\s(nook)[\w\s]+build\/(\w+))~"),
              QStringLiteral(R"~((dell)\s(strea[kpr\s\d]*[\dko]))~")},
             {Funcs::r(Key::Vendor), Funcs::r(Key::Model),
              Funcs::rf(Key::Type, QStringLiteral(R"~(tablet)~"))}),
        // D5
        Rule({QStringLiteral(R"~((kf[A-z]+)\sbuild\/[\w\.]+.*silk\/)~")},
             {Funcs::r(Key::Model), Funcs::rf(Key::Vendor, QStringLiteral(R"~(amazon)~")),
              Funcs::rf(Key::Type, QStringLiteral(R"~(tablet)~"))}),
        // D6
        Rule({QStringLiteral(R"~((sd|kf)[0349hijorstuw]+\sbuild\/[\w\.]+.*silk\/)~")},
             {Funcs::mp(Key::Model, amazonDeviceMap()), Funcs::rf(Key::Vendor, QStringLiteral(R"~(amazon)~")),
              Funcs::rf(Key::Type, QStringLiteral(R"~(mobile)~"))}),
        // D7
        Rule({QStringLiteral(R"~(\((ip[honed|\s\w*]+);.+(apple))~")},
             {Funcs::r(Key::Model), Funcs::r(Key::Vendor),
              Funcs::rf(Key::Type, QStringLiteral(R"~(mobile)~"))}),
        // D8
        Rule({QStringLiteral(R"~(\((ip[honed|\s\w*]+);)~")},
             {Funcs::r(Key::Model), Funcs::rf(Key::Vendor, QStringLiteral(R"~(apple)~")),
              Funcs::rf(Key::Type, QStringLiteral(R"~(mobile)~"))}),
        // D9
        Rule(
            {QStringLiteral(R"~((blackberry)[\s-]?(\w+))~"),
             QStringLiteral(
                 R"~((blackberry|benq|palm(?=\-)|sonyericsson|acer|asus|dell|meizu|motorola|polytron)[\s_-]?([\w-]+)*)~"),
             QStringLiteral(R"~((hp)\s([\w\s]+\w))~"), QStringLiteral(R"~((asus)-?(\w+))~")},
            {Funcs::r(Key::Vendor), Funcs::r(Key::Model),
             Funcs::rf(Key::Type, QStringLiteral(R"~(mobile)~"))}),
        // D10
        Rule({QStringLiteral(R"~(\(bb10;\s(\w+))~")},
             {Funcs::r(Key::Model), Funcs::rf(Key::Vendor, QStringLiteral(R"~(BlackBerry)~")),
              Funcs::rf(Key::Type, QStringLiteral(R"~(mobile)~"))}),
        // D11
        Rule(
            {QStringLiteral(R"~(android.+(transfo[prime\s]{4,10}\s\w+|eeepc|slider\s\w+|nexus 7|padfone))~")},
            {Funcs::r(Key::Model), Funcs::rf(Key::Vendor, QStringLiteral(R"~(asus)~")),
             Funcs::rf(Key::Type, QStringLiteral(R"~(tablet)~"))}),
        // D12
        Rule({QStringLiteral(R"~((sony)\s(tablet\s[ps])\sbuild\/)~"),
              QStringLiteral(R"~((sony)?(?:sgp.+)\sbuild\/)~")},
             {Funcs::rf(Key::Vendor, QStringLiteral(R"~(sony)~")),
              Funcs::rf(Key::Model, QStringLiteral(R"~(xperia tablet)~")),
              Funcs::rf(Key::Type, QStringLiteral(R"~(tablet)~"))}),
        // D13
        Rule({QStringLiteral(R"~(android.+\s([c-g]\d{4}|so[-l]\w+)\sbuild\/)~")},
             {Funcs::r(Key::Model), Funcs::rf(Key::Vendor, QStringLiteral(R"~(sony)~")),
              Funcs::rf(Key::Type, QStringLiteral(R"~(mobile)~"))}),
        // D14
        Rule({QStringLiteral(R"~(\s(ouya)\s)~"), QStringLiteral(R"~((nintendo)\s([wids3u]+))~")},
             {Funcs::r(Key::Vendor), Funcs::r(Key::Model),
              Funcs::rf(Key::Type, QStringLiteral(R"~(console)~"))}),
        // D15
        Rule({QStringLiteral(R"~(android.+;\s(shield)\sbuild)~")},
             {Funcs::r(Key::Model), Funcs::rf(Key::Vendor, QStringLiteral(R"~(sony)~")),
              Funcs::rf(Key::Type, QStringLiteral(R"~(console)~"))}),
        // D16
        Rule({QStringLiteral(R"~((playstation\s[34portablevi]+))~")},
             {Funcs::r(Key::Model), Funcs::rf(Key::Vendor, QStringLiteral(R"~(sony)~")),
              Funcs::rf(Key::Type, QStringLiteral(R"~(console)~"))}),
        // D17
        Rule({QStringLiteral(R"~((sprint\s(\w+)))~")},
             {Funcs::mp(Key::Vendor, sprintVendorMap()), Funcs::mp(Key::Model, sprintModelMap()),
              Funcs::rf(Key::Type, QStringLiteral(R"~(mobile)~"))}),
        // D18
        Rule({QStringLiteral(R"~((lenovo)\s?(S(?:5000|6000)+(?:[-][\w+])))~")},
             {Funcs::r(Key::Vendor), Funcs::r(Key::Model),
              Funcs::rf(Key::Type, QStringLiteral(R"~(tablet)~"))}),
        // D19
        Rule(
            {QStringLiteral(R"~((htc)[;_\s-]+([\w\s]+(?=\))|\w+)*)~"), QStringLiteral(R"~((zte)-(\w+)*)~"),
             QStringLiteral(R"~((alcatel|geeksphone|lenovo|nexian|panasonic|(?=;\s)sony)[_\s-]?([\w-]+)*)~")},
            {Funcs::r(Key::Vendor), Funcs::rp(Key::Model, QStringLiteral(R"~(_)~"), QStringLiteral(R"~( )~")),
             Funcs::rf(Key::Type, QStringLiteral(R"~(mobile)~"))}),
        // D20
        Rule({QStringLiteral(R"~((nexus\s9))~")},
             {Funcs::r(Key::Model), Funcs::rf(Key::Vendor, QStringLiteral(R"~(htc)~")),
              Funcs::rf(Key::Type, QStringLiteral(R"~(tablet)~"))}),
        // D21
        Rule({QStringLiteral(R"~(d\/huawei([\w\s-]+)[;\)])~"), QStringLiteral(R"~((nexus\s6p))~")},
             {Funcs::r(Key::Model), Funcs::rf(Key::Vendor, QStringLiteral(R"~(huawei)~")),
              Funcs::rf(Key::Type, QStringLiteral(R"~(mobile)~"))}),
        // D22
        Rule({QStringLiteral(R"~((microsoft);\s(lumia[\s\w]+))~")},
             {Funcs::r(Key::Vendor), Funcs::r(Key::Model),
              Funcs::rf(Key::Type, QStringLiteral(R"~(mobile)~"))}),
        // D23
        Rule({QStringLiteral(R"~([\s\(;](xbox(?:\sone)?)[\s\);])~")},
             {Funcs::r(Key::Model), Funcs::rf(Key::Vendor, QStringLiteral(R"~(microsoft)~")),
              Funcs::rf(Key::Type, QStringLiteral(R"~(console)~"))}),
        // D24
        Rule({QStringLiteral(R"~((kin\.[onetw]{3}))~")},
             {Funcs::rp(Key::Model, QStringLiteral(R"~(\.)~"), QStringLiteral(R"~( )~")),
              Funcs::rf(Key::Vendor, QStringLiteral(R"~(microsoft)~")),
              Funcs::rf(Key::Type, QStringLiteral(R"~(mobile)~"))}),
        // D25
        Rule({QStringLiteral(
                  R"~(\s(milestone|droid(?:[2-4x]|\s(?:bionic|x2|pro|razr))?(:?\s4g)?)[\w\s]+build\/)~"),
              QStringLiteral(R"~(mot[\s-]?(\w+)*)~"), QStringLiteral(R"~((XT\d{3,4}) build\/)~"),
              QStringLiteral(R"~((nexus\s6))~")},
             {Funcs::r(Key::Model), Funcs::rf(Key::Vendor, QStringLiteral(R"~(motorola)~")),
              Funcs::rf(Key::Type, QStringLiteral(R"~(mobile)~"))}),
        // D26
        Rule({QStringLiteral(R"~(android.+\s(mz60\d|xoom[\s2]{0,2})\sbuild\/)~")},
             {Funcs::r(Key::Model), Funcs::rf(Key::Vendor, QStringLiteral(R"~(motorola)~")),
              Funcs::rf(Key::Type, QStringLiteral(R"~(tablet)~"))}),
        // D27
        Rule({QStringLiteral(R"~(hbbtv\/\d+\.\d+\.\d+\s+\([\w\s]*;\s*(\w[^;]*);([^;]*))~")},
             {Funcs::r(Key::Vendor), Funcs::r(Key::Model),
              Funcs::rf(Key::Type, QStringLiteral(R"~(smarttv)~"))}),
        // D28
        Rule({QStringLiteral(R"~(hbbtv.+maple;(\d+))~")},
             {Funcs::rp(Key::Model, QStringLiteral(R"~(^)~"), QStringLiteral(R"~(SmartTV)~")),
              Funcs::rf(Key::Vendor, QStringLiteral(R"~(samsung)~")),
              Funcs::rf(Key::Type, QStringLiteral(R"~(smarttv)~"))}),
        // D29
        Rule({QStringLiteral(R"~(\(dtv[\);].+(aquos))~")},
             {Funcs::r(Key::Model), Funcs::rf(Key::Vendor, QStringLiteral(R"~(sharp)~")),
              Funcs::rf(Key::Type, QStringLiteral(R"~(smarttv)~"))}),
        // D30
        Rule({QStringLiteral(
                  R"~(android.+((sch-i[89]0\d|shw-m380s|gt-p\d{4}|gt-n\d+|sgh-t8[56]9|nexus 10)))~"),
              QStringLiteral(R"~(((SM-T\w+)))~")},
             {Funcs::rf(Key::Vendor, QStringLiteral(R"~(samsung)~")), Funcs::r(Key::Model),
              Funcs::rf(Key::Type, QStringLiteral(R"~(tablet)~"))}),
        // D31
        Rule({QStringLiteral(R"~(smart-tv.+(samsung))~")},
             {Funcs::r(Key::Vendor), Funcs::rf(Key::Type, QStringLiteral(R"~(smarttv)~")),
              Funcs::r(Key::Model)}),
        // D32
        Rule({QStringLiteral(R"~(((s[cgp]h-\w+|gt-\w+|galaxy\snexus|sm-\w[\w\d]+)))~"),
              QStringLiteral(R"~((sam[sung]*)[\s-]*(\w+-?[\w-]*)*)~"), QStringLiteral(R"~(sec-((sgh\w+)))~")},
             {Funcs::rf(Key::Vendor, QStringLiteral(R"~(samsung)~")), Funcs::r(Key::Model),
              Funcs::rf(Key::Type, QStringLiteral(R"~(mobile)~"))}),
        // D33
        Rule({QStringLiteral(R"~(sie-(\w+)*)~")},
             {Funcs::r(Key::Model), Funcs::rf(Key::Vendor, QStringLiteral(R"~(siemes)~")),
              Funcs::rf(Key::Type, QStringLiteral(R"~(mobile)~"))}),
        // D34
        Rule({QStringLiteral(R"~((maemo|nokia).*(n900|lumia\s\d+))~"),
              QStringLiteral(R"~((nokia)[\s_-]?([\w-]+)*)~")},
             {Funcs::rf(Key::Vendor, QStringLiteral(R"~(nokia)~")), Funcs::r(Key::Model),
              Funcs::rf(Key::Type, QStringLiteral(R"~(mobile)~"))}),
        // D35
        Rule({QStringLiteral(R"~(android\s3\.[\s\w;-]{10}(a\d{3}))~")},
             {Funcs::r(Key::Model), Funcs::rf(Key::Vendor, QStringLiteral(R"~(acer)~")),
              Funcs::rf(Key::Type, QStringLiteral(R"~(tablet)~"))}),
        // D36
        Rule({QStringLiteral(R"~(android.+([vl]k\-?\d{3})\s+build)~")},
             {Funcs::r(Key::Model), Funcs::rf(Key::Vendor, QStringLiteral(R"~(lg)~")),
              Funcs::rf(Key::Type, QStringLiteral(R"~(tablet)~"))}),
        // D37
        Rule({QStringLiteral(R"~(android\s3\.[\s\w;-]{10}(lg?)-([06cv9]{3,4}))~")},
             {Funcs::rf(Key::Vendor, QStringLiteral(R"~(lg)~")), Funcs::r(Key::Model),
              Funcs::rf(Key::Type, QStringLiteral(R"~(tablet)~"))}),
        // D38
        Rule({QStringLiteral(R"~((lg) netcast\.tv)~")},
             {Funcs::r(Key::Vendor), Funcs::r(Key::Model),
              Funcs::rf(Key::Type, QStringLiteral(R"~(smarttv)~"))}),
        // D39
        Rule({QStringLiteral(R"~((nexus\s[45]))~"), QStringLiteral(R"~(lg[e;\s\/-]+(\w+)*)~"),
              QStringLiteral(R"~(android.+lg(\-?[\d\w]+)\s+build)~")},
             {Funcs::r(Key::Model), Funcs::rf(Key::Vendor, QStringLiteral(R"~(lg)~")),
              Funcs::rf(Key::Type, QStringLiteral(R"~(mobile)~"))}),
        // D40
        Rule({QStringLiteral(R"~(android.+(ideatab[a-z0-9\-\s]+))~")},
             {Funcs::r(Key::Model), Funcs::rf(Key::Vendor, QStringLiteral(R"~(lenovo)~")),
              Funcs::rf(Key::Type, QStringLiteral(R"~(tablet)~"))}),
        // D41
        Rule({QStringLiteral(R"~(linux;.+((jolla));)~")},
             {Funcs::r(Key::Vendor), Funcs::r(Key::Model),
              Funcs::rf(Key::Type, QStringLiteral(R"~(tablet)~"))}),
        // D42
        Rule({QStringLiteral(R"~(((pebble))app\/[\d\.]+\s)~")},
             {Funcs::r(Key::Vendor), Funcs::r(Key::Model),
              Funcs::rf(Key::Type, QStringLiteral(R"~(wearable)~"))}),
        // D43
        Rule({QStringLiteral(R"~(android.+;\s(oppo)\s?([\w\s]+)\sbuild)~")},
             {Funcs::r(Key::Vendor), Funcs::r(Key::Model),
              Funcs::rf(Key::Type, QStringLiteral(R"~(mobile)~"))}),
        // D44
        Rule({QStringLiteral(R"~(crkey)~")}, {Funcs::rf(Key::Model, QStringLiteral(R"~(chromecast)~")),
                                              Funcs::rf(Key::Vendor, QStringLiteral(R"~(google)~"))}),
        // D45
        Rule({QStringLiteral(R"~(android.+;\s(glass)\s\d)~")},
             {Funcs::r(Key::Model), Funcs::rf(Key::Vendor, QStringLiteral(R"~(google)~")),
              Funcs::rf(Key::Type, QStringLiteral(R"~(wearable)~"))}),
        // D46
        Rule({QStringLiteral(R"~(android.+;\s(pixel c)\s)~")},
             {Funcs::r(Key::Model), Funcs::rf(Key::Vendor, QStringLiteral(R"~(google)~")),
              Funcs::rf(Key::Type, QStringLiteral(R"~(tablet)~"))}),
        // D47
        Rule({QStringLiteral(R"~(android.+;\s(pixel xl|pixel)\s)~")},
             {Funcs::r(Key::Model), Funcs::rf(Key::Vendor, QStringLiteral(R"~(google)~")),
              Funcs::rf(Key::Type, QStringLiteral(R"~(mobile)~"))}),
        // D48
        Rule({QStringLiteral(R"~(android.+(\w+)\s+build\/hm\1)~"),
              QStringLiteral(R"~(android.+(hm[\s\-_]*note?[\s_]*(?:\d\w)?)\s+build)~"),
              QStringLiteral(
                  R"~(android.+(mi[\s\-_]*(?:one|one[\s_]plus|note lte)?[\s_]*(?:\d\w)?)\s+build)~"),
              QStringLiteral(R"~(android.+(redmi[\s\-_]*(?:note)?(?:[\s_]*[\w\s]+)?)\s+build)~")},
             {Funcs::rp(Key::Model, QStringLiteral(R"~(_)~"), QStringLiteral(R"~( )~")),
              Funcs::rf(Key::Vendor, QStringLiteral(R"~(xiaomi)~")),
              Funcs::rf(Key::Type, QStringLiteral(R"~(mobile)~"))}),
        // D49
        Rule({QStringLiteral(R"~(android.+(mi[\s\-_]*(?:pad)?(?:[\s_]*[\w\s]+)?)\s+build)~")},
             {Funcs::rp(Key::Model, QStringLiteral(R"~(_)~"), QStringLiteral(R"~( )~")),
              Funcs::rf(Key::Vendor, QStringLiteral(R"~(xiaomi)~")),
              Funcs::rf(Key::Type, QStringLiteral(R"~(tablet)~"))}),
        // D50
        Rule({QStringLiteral(R"~(android.+;\s(m[1-5]\snote)\sbuild)~")},
             {Funcs::r(Key::Model), Funcs::rf(Key::Vendor, QStringLiteral(R"~(meizu)~")),
              Funcs::rf(Key::Type, QStringLiteral(R"~(tablet)~"))}),
        // D51
        Rule({QStringLiteral(R"~(android.+a000(1)\s+build)~")},
             {Funcs::r(Key::Model), Funcs::rf(Key::Vendor, QStringLiteral(R"~(oneplus)~")),
              Funcs::rf(Key::Type, QStringLiteral(R"~(mobile)~"))}),
        // D52
        Rule({QStringLiteral(R"~(android.+[;\/]\s*(RCT[\d\w]+)\s+build)~")},
             {Funcs::r(Key::Model), Funcs::rf(Key::Vendor, QStringLiteral(R"~(rca)~")),
              Funcs::rf(Key::Type, QStringLiteral(R"~(tablet)~"))}),
        // D53
        Rule({QStringLiteral(R"~(android.+[;\/]\s*(Venue[\d\s]*)\s+build)~")},
             {Funcs::r(Key::Model), Funcs::rf(Key::Vendor, QStringLiteral(R"~(dell)~")),
              Funcs::rf(Key::Type, QStringLiteral(R"~(tablet)~"))}),
        // D54
        Rule({QStringLiteral(R"~(android.+[;\/]\s*(Q[T|M][\d\w]+)\s+build)~")},
             {Funcs::r(Key::Model), Funcs::rf(Key::Vendor, QStringLiteral(R"~(verizon)~")),
              Funcs::rf(Key::Type, QStringLiteral(R"~(tablet)~"))}),
        // D55
        Rule({QStringLiteral(R"~(android.+[;\/]\s+(Barnes[&\s]+Noble\s+|BN[RT])(V?.*)\s+build)~")},
             {Funcs::rf(Key::Vendor, QStringLiteral(R"~(barnes & noble)~")), Funcs::r(Key::Model),
              Funcs::rf(Key::Type, QStringLiteral(R"~(tablet)~"))}),
        // D56
        Rule({QStringLiteral(R"~(android.+[;\/]\s+(TM\d{3}.*\b)\s+build)~")},
             {Funcs::r(Key::Model), Funcs::rf(Key::Vendor, QStringLiteral(R"~(nuvision)~")),
              Funcs::rf(Key::Type, QStringLiteral(R"~(tablet)~"))}),
        // D57
        Rule({QStringLiteral(R"~(android.+[;\/]\s*(zte)?.+(k\d{2})\s+build)~")},
             {Funcs::rf(Key::Vendor, QStringLiteral(R"~(zte)~")), Funcs::r(Key::Model),
              Funcs::rf(Key::Type, QStringLiteral(R"~(tablet)~"))}),
        // D58
        Rule({QStringLiteral(R"~(android.+[;\/]\s*(gen\d{3})\s+build.*49h)~")},
             {Funcs::r(Key::Model), Funcs::rf(Key::Vendor, QStringLiteral(R"~(swiss)~")),
              Funcs::rf(Key::Type, QStringLiteral(R"~(mobile)~"))}),
        // D59
        Rule({QStringLiteral(R"~(android.+[;\/]\s*(zur\d{3})\s+build)~")},
             {Funcs::r(Key::Model), Funcs::rf(Key::Vendor, QStringLiteral(R"~(swiss)~")),
              Funcs::rf(Key::Type, QStringLiteral(R"~(tablet)~"))}),
        // D60
        Rule({QStringLiteral(R"~(android.+[;\/]\s*((Zeki)?TB.*\b)\s+build)~")},
             {Funcs::r(Key::Model), Funcs::rf(Key::Vendor, QStringLiteral(R"~(zeki)~")),
              Funcs::rf(Key::Type, QStringLiteral(R"~(tablet)~"))}),
        // D61
        Rule({QStringLiteral(R"~((android).+[;\/]\s+([YR]\d{2}x?.*)\s+build)~"),
              QStringLiteral(R"~(android.+[;\/]\s+(Dragon[\-\s]+Touch\s+|DT)(.+)\s+build)~")},
             {Funcs::rf(Key::Vendor, QStringLiteral(R"~(dragon touch)~")), Funcs::r(Key::Model),
              Funcs::rf(Key::Type, QStringLiteral(R"~(tablet)~"))}),
        // D62
        Rule({QStringLiteral(R"~(android.+[;\/]\s*(NS-?.+)\s+build)~")},
             {Funcs::r(Key::Model), Funcs::rf(Key::Vendor, QStringLiteral(R"~(insignia)~")),
              Funcs::rf(Key::Type, QStringLiteral(R"~(tablet)~"))}),
        // D63
        Rule({QStringLiteral(R"~(android.+[;\/]\s*((NX|Next)-?.+)\s+build)~")},
             {Funcs::r(Key::Model), Funcs::rf(Key::Vendor, QStringLiteral(R"~(nextbook)~")),
              Funcs::rf(Key::Type, QStringLiteral(R"~(tablet)~"))}),
        // D64
        Rule({QStringLiteral(
                 R"~(android.+[;\/]\s*(Xtreme\_?)?(V(1[045]|2[015]|30|40|60|7[05]|90))\s+build)~")},
             {Funcs::rf(Key::Vendor, QStringLiteral(R"~(voice)~")), Funcs::r(Key::Model),
              Funcs::rf(Key::Type, QStringLiteral(R"~(mobile)~"))}),
        // D65
        Rule({QStringLiteral(R"~(android.+[;\/]\s*(LVTEL\-?)?(V1[12])\s+build)~")},
             {Funcs::rf(Key::Vendor, QStringLiteral(R"~(lvtel)~")), Funcs::r(Key::Model),
              Funcs::rf(Key::Type, QStringLiteral(R"~(mobile)~"))}),
        // D66
        Rule({QStringLiteral(R"~(android.+[;\/]\s*(V(100MD|700NA|7011|917G).*\b)\s+build)~")},
             {Funcs::r(Key::Model), Funcs::rf(Key::Vendor, QStringLiteral(R"~(envizen)~")),
              Funcs::rf(Key::Type, QStringLiteral(R"~(tablet)~"))}),
        // D67
        Rule({QStringLiteral(R"~(android.+[;\/]\s*(Le[\s\-]+Pan)[\s\-]+(.*\b)\s+build)~")},
             {Funcs::r(Key::Vendor), Funcs::r(Key::Model),
              Funcs::rf(Key::Type, QStringLiteral(R"~(tablet)~"))}),
        // D68
        Rule({QStringLiteral(R"~(android.+[;\/]\s*(Trio[\s\-]*.*)\s+build)~")},
             {Funcs::r(Key::Model), Funcs::rf(Key::Vendor, QStringLiteral(R"~(machspeed)~")),
              Funcs::rf(Key::Type, QStringLiteral(R"~(tablet)~"))}),
        // D69
        Rule({QStringLiteral(R"~(android.+[;\/]\s*(Trinity)[\-\s]*(T\d{3})\s+build)~")},
             {Funcs::r(Key::Vendor), Funcs::r(Key::Model),
              Funcs::rf(Key::Type, QStringLiteral(R"~(tablet)~"))}),
        // D70
        Rule({QStringLiteral(R"~(android.+[;\/]\s*TU_(1491)\s+build)~")},
             {Funcs::r(Key::Model), Funcs::rf(Key::Vendor, QStringLiteral(R"~(rotor)~")),
              Funcs::rf(Key::Type, QStringLiteral(R"~(tablet)~"))}),
        // D71
        Rule({QStringLiteral(R"~(android.+(KS(.+))\s+build)~")},
             {Funcs::r(Key::Model), Funcs::rf(Key::Vendor, QStringLiteral(R"~(amazon)~")),
              Funcs::rf(Key::Type, QStringLiteral(R"~(tablet)~"))}),
        // D72
        Rule({QStringLiteral(R"~(android.+(Gigaset)[\s\-]+(Q.+)\s+build)~")},
             {Funcs::r(Key::Vendor), Funcs::r(Key::Model),
              Funcs::rf(Key::Type, QStringLiteral(R"~(tablet)~"))}),
        // D73
        Rule(
            {QStringLiteral(R"~(\s(tablet|tab)[;\/])~"), QStringLiteral(R"~(\s(mobile)(?:[;\/]|\ssafari))~")},
            {Funcs::r(Key::Type), Funcs::r(Key::Vendor), Funcs::r(Key::Model)}),
        // D74
        Rule({QStringLiteral(R"~((android.+)[;\/].+build)~")},
             {Funcs::r(Key::Model), Funcs::rf(Key::Vendor, QStringLiteral(R"~(generic)~"))}),
    };
    return rules;
}

} // namespace ua
