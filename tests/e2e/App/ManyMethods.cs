using System.Runtime.CompilerServices;

namespace E2E.App;

// Many small methods, M000 to M199, each returning its own number: targets rewrite all of them while
// several threads have them compiled at once. Written out by a generator; Call(k) calls M<k> without
// reflection.
public static class ManyMethods
{
    public const int Count = 200;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M000() => 0;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M001() => 1;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M002() => 2;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M003() => 3;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M004() => 4;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M005() => 5;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M006() => 6;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M007() => 7;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M008() => 8;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M009() => 9;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M010() => 10;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M011() => 11;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M012() => 12;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M013() => 13;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M014() => 14;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M015() => 15;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M016() => 16;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M017() => 17;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M018() => 18;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M019() => 19;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M020() => 20;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M021() => 21;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M022() => 22;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M023() => 23;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M024() => 24;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M025() => 25;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M026() => 26;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M027() => 27;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M028() => 28;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M029() => 29;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M030() => 30;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M031() => 31;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M032() => 32;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M033() => 33;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M034() => 34;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M035() => 35;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M036() => 36;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M037() => 37;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M038() => 38;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M039() => 39;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M040() => 40;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M041() => 41;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M042() => 42;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M043() => 43;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M044() => 44;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M045() => 45;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M046() => 46;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M047() => 47;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M048() => 48;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M049() => 49;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M050() => 50;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M051() => 51;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M052() => 52;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M053() => 53;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M054() => 54;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M055() => 55;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M056() => 56;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M057() => 57;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M058() => 58;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M059() => 59;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M060() => 60;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M061() => 61;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M062() => 62;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M063() => 63;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M064() => 64;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M065() => 65;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M066() => 66;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M067() => 67;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M068() => 68;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M069() => 69;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M070() => 70;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M071() => 71;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M072() => 72;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M073() => 73;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M074() => 74;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M075() => 75;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M076() => 76;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M077() => 77;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M078() => 78;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M079() => 79;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M080() => 80;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M081() => 81;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M082() => 82;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M083() => 83;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M084() => 84;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M085() => 85;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M086() => 86;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M087() => 87;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M088() => 88;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M089() => 89;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M090() => 90;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M091() => 91;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M092() => 92;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M093() => 93;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M094() => 94;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M095() => 95;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M096() => 96;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M097() => 97;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M098() => 98;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M099() => 99;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M100() => 100;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M101() => 101;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M102() => 102;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M103() => 103;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M104() => 104;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M105() => 105;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M106() => 106;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M107() => 107;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M108() => 108;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M109() => 109;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M110() => 110;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M111() => 111;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M112() => 112;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M113() => 113;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M114() => 114;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M115() => 115;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M116() => 116;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M117() => 117;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M118() => 118;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M119() => 119;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M120() => 120;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M121() => 121;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M122() => 122;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M123() => 123;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M124() => 124;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M125() => 125;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M126() => 126;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M127() => 127;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M128() => 128;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M129() => 129;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M130() => 130;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M131() => 131;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M132() => 132;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M133() => 133;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M134() => 134;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M135() => 135;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M136() => 136;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M137() => 137;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M138() => 138;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M139() => 139;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M140() => 140;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M141() => 141;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M142() => 142;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M143() => 143;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M144() => 144;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M145() => 145;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M146() => 146;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M147() => 147;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M148() => 148;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M149() => 149;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M150() => 150;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M151() => 151;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M152() => 152;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M153() => 153;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M154() => 154;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M155() => 155;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M156() => 156;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M157() => 157;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M158() => 158;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M159() => 159;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M160() => 160;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M161() => 161;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M162() => 162;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M163() => 163;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M164() => 164;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M165() => 165;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M166() => 166;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M167() => 167;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M168() => 168;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M169() => 169;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M170() => 170;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M171() => 171;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M172() => 172;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M173() => 173;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M174() => 174;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M175() => 175;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M176() => 176;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M177() => 177;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M178() => 178;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M179() => 179;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M180() => 180;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M181() => 181;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M182() => 182;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M183() => 183;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M184() => 184;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M185() => 185;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M186() => 186;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M187() => 187;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M188() => 188;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M189() => 189;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M190() => 190;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M191() => 191;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M192() => 192;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M193() => 193;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M194() => 194;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M195() => 195;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M196() => 196;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M197() => 197;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M198() => 198;
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M199() => 199;

    public static int Call(int k) => k switch
    {
        0 => M000(),
        1 => M001(),
        2 => M002(),
        3 => M003(),
        4 => M004(),
        5 => M005(),
        6 => M006(),
        7 => M007(),
        8 => M008(),
        9 => M009(),
        10 => M010(),
        11 => M011(),
        12 => M012(),
        13 => M013(),
        14 => M014(),
        15 => M015(),
        16 => M016(),
        17 => M017(),
        18 => M018(),
        19 => M019(),
        20 => M020(),
        21 => M021(),
        22 => M022(),
        23 => M023(),
        24 => M024(),
        25 => M025(),
        26 => M026(),
        27 => M027(),
        28 => M028(),
        29 => M029(),
        30 => M030(),
        31 => M031(),
        32 => M032(),
        33 => M033(),
        34 => M034(),
        35 => M035(),
        36 => M036(),
        37 => M037(),
        38 => M038(),
        39 => M039(),
        40 => M040(),
        41 => M041(),
        42 => M042(),
        43 => M043(),
        44 => M044(),
        45 => M045(),
        46 => M046(),
        47 => M047(),
        48 => M048(),
        49 => M049(),
        50 => M050(),
        51 => M051(),
        52 => M052(),
        53 => M053(),
        54 => M054(),
        55 => M055(),
        56 => M056(),
        57 => M057(),
        58 => M058(),
        59 => M059(),
        60 => M060(),
        61 => M061(),
        62 => M062(),
        63 => M063(),
        64 => M064(),
        65 => M065(),
        66 => M066(),
        67 => M067(),
        68 => M068(),
        69 => M069(),
        70 => M070(),
        71 => M071(),
        72 => M072(),
        73 => M073(),
        74 => M074(),
        75 => M075(),
        76 => M076(),
        77 => M077(),
        78 => M078(),
        79 => M079(),
        80 => M080(),
        81 => M081(),
        82 => M082(),
        83 => M083(),
        84 => M084(),
        85 => M085(),
        86 => M086(),
        87 => M087(),
        88 => M088(),
        89 => M089(),
        90 => M090(),
        91 => M091(),
        92 => M092(),
        93 => M093(),
        94 => M094(),
        95 => M095(),
        96 => M096(),
        97 => M097(),
        98 => M098(),
        99 => M099(),
        100 => M100(),
        101 => M101(),
        102 => M102(),
        103 => M103(),
        104 => M104(),
        105 => M105(),
        106 => M106(),
        107 => M107(),
        108 => M108(),
        109 => M109(),
        110 => M110(),
        111 => M111(),
        112 => M112(),
        113 => M113(),
        114 => M114(),
        115 => M115(),
        116 => M116(),
        117 => M117(),
        118 => M118(),
        119 => M119(),
        120 => M120(),
        121 => M121(),
        122 => M122(),
        123 => M123(),
        124 => M124(),
        125 => M125(),
        126 => M126(),
        127 => M127(),
        128 => M128(),
        129 => M129(),
        130 => M130(),
        131 => M131(),
        132 => M132(),
        133 => M133(),
        134 => M134(),
        135 => M135(),
        136 => M136(),
        137 => M137(),
        138 => M138(),
        139 => M139(),
        140 => M140(),
        141 => M141(),
        142 => M142(),
        143 => M143(),
        144 => M144(),
        145 => M145(),
        146 => M146(),
        147 => M147(),
        148 => M148(),
        149 => M149(),
        150 => M150(),
        151 => M151(),
        152 => M152(),
        153 => M153(),
        154 => M154(),
        155 => M155(),
        156 => M156(),
        157 => M157(),
        158 => M158(),
        159 => M159(),
        160 => M160(),
        161 => M161(),
        162 => M162(),
        163 => M163(),
        164 => M164(),
        165 => M165(),
        166 => M166(),
        167 => M167(),
        168 => M168(),
        169 => M169(),
        170 => M170(),
        171 => M171(),
        172 => M172(),
        173 => M173(),
        174 => M174(),
        175 => M175(),
        176 => M176(),
        177 => M177(),
        178 => M178(),
        179 => M179(),
        180 => M180(),
        181 => M181(),
        182 => M182(),
        183 => M183(),
        184 => M184(),
        185 => M185(),
        186 => M186(),
        187 => M187(),
        188 => M188(),
        189 => M189(),
        190 => M190(),
        191 => M191(),
        192 => M192(),
        193 => M193(),
        194 => M194(),
        195 => M195(),
        196 => M196(),
        197 => M197(),
        198 => M198(),
        199 => M199(),
        _ => throw new ArgumentOutOfRangeException(nameof(k)),
    };
}
