using System.Runtime.CompilerServices;

namespace E2E.Plugin;

// Loaded, called and unloaded again and again by the program, its two builds in turn; the targets rewrite its
// methods M00 to M95.
public static class Plugin
{
    public const int Count = 96;

    // The second build differs in its constants only: the same methods, with the same tokens.
#if SECOND
    public const int Base = 1000;
#else
    public const int Base = 0;
#endif

    // The sum of every method's value for the round.
    public static int Run(int round) =>
        M00(round) + M01(round) + M02(round) + M03(round) + M04(round) + M05(round) + M06(round) + M07(round)
        + M08(round) + M09(round) + M10(round) + M11(round) + M12(round) + M13(round) + M14(round) + M15(round)
        + M16(round) + M17(round) + M18(round) + M19(round) + M20(round) + M21(round) + M22(round) + M23(round)
        + M24(round) + M25(round) + M26(round) + M27(round) + M28(round) + M29(round) + M30(round) + M31(round)
        + M32(round) + M33(round) + M34(round) + M35(round) + M36(round) + M37(round) + M38(round) + M39(round)
        + M40(round) + M41(round) + M42(round) + M43(round) + M44(round) + M45(round) + M46(round) + M47(round)
        + M48(round) + M49(round) + M50(round) + M51(round) + M52(round) + M53(round) + M54(round) + M55(round)
        + M56(round) + M57(round) + M58(round) + M59(round) + M60(round) + M61(round) + M62(round) + M63(round)
        + M64(round) + M65(round) + M66(round) + M67(round) + M68(round) + M69(round) + M70(round) + M71(round)
        + M72(round) + M73(round) + M74(round) + M75(round) + M76(round) + M77(round) + M78(round) + M79(round)
        + M80(round) + M81(round) + M82(round) + M83(round) + M84(round) + M85(round) + M86(round) + M87(round)
        + M88(round) + M89(round) + M90(round) + M91(round) + M92(round) + M93(round) + M94(round) + M95(round);

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M00(int round) => round + Base + 0;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M01(int round) => round + Base + 1;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M02(int round) => round + Base + 2;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M03(int round) => round + Base + 3;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M04(int round) => round + Base + 4;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M05(int round) => round + Base + 5;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M06(int round) => round + Base + 6;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M07(int round) => round + Base + 7;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M08(int round) => round + Base + 8;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M09(int round) => round + Base + 9;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M10(int round) => round + Base + 10;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M11(int round) => round + Base + 11;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M12(int round) => round + Base + 12;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M13(int round) => round + Base + 13;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M14(int round) => round + Base + 14;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M15(int round) => round + Base + 15;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M16(int round) => round + Base + 16;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M17(int round) => round + Base + 17;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M18(int round) => round + Base + 18;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M19(int round) => round + Base + 19;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M20(int round) => round + Base + 20;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M21(int round) => round + Base + 21;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M22(int round) => round + Base + 22;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M23(int round) => round + Base + 23;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M24(int round) => round + Base + 24;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M25(int round) => round + Base + 25;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M26(int round) => round + Base + 26;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M27(int round) => round + Base + 27;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M28(int round) => round + Base + 28;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M29(int round) => round + Base + 29;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M30(int round) => round + Base + 30;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M31(int round) => round + Base + 31;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M32(int round) => round + Base + 32;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M33(int round) => round + Base + 33;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M34(int round) => round + Base + 34;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M35(int round) => round + Base + 35;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M36(int round) => round + Base + 36;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M37(int round) => round + Base + 37;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M38(int round) => round + Base + 38;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M39(int round) => round + Base + 39;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M40(int round) => round + Base + 40;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M41(int round) => round + Base + 41;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M42(int round) => round + Base + 42;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M43(int round) => round + Base + 43;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M44(int round) => round + Base + 44;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M45(int round) => round + Base + 45;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M46(int round) => round + Base + 46;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M47(int round) => round + Base + 47;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M48(int round) => round + Base + 48;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M49(int round) => round + Base + 49;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M50(int round) => round + Base + 50;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M51(int round) => round + Base + 51;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M52(int round) => round + Base + 52;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M53(int round) => round + Base + 53;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M54(int round) => round + Base + 54;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M55(int round) => round + Base + 55;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M56(int round) => round + Base + 56;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M57(int round) => round + Base + 57;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M58(int round) => round + Base + 58;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M59(int round) => round + Base + 59;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M60(int round) => round + Base + 60;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M61(int round) => round + Base + 61;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M62(int round) => round + Base + 62;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M63(int round) => round + Base + 63;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M64(int round) => round + Base + 64;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M65(int round) => round + Base + 65;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M66(int round) => round + Base + 66;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M67(int round) => round + Base + 67;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M68(int round) => round + Base + 68;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M69(int round) => round + Base + 69;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M70(int round) => round + Base + 70;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M71(int round) => round + Base + 71;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M72(int round) => round + Base + 72;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M73(int round) => round + Base + 73;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M74(int round) => round + Base + 74;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M75(int round) => round + Base + 75;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M76(int round) => round + Base + 76;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M77(int round) => round + Base + 77;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M78(int round) => round + Base + 78;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M79(int round) => round + Base + 79;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M80(int round) => round + Base + 80;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M81(int round) => round + Base + 81;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M82(int round) => round + Base + 82;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M83(int round) => round + Base + 83;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M84(int round) => round + Base + 84;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M85(int round) => round + Base + 85;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M86(int round) => round + Base + 86;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M87(int round) => round + Base + 87;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M88(int round) => round + Base + 88;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M89(int round) => round + Base + 89;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M90(int round) => round + Base + 90;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M91(int round) => round + Base + 91;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M92(int round) => round + Base + 92;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M93(int round) => round + Base + 93;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M94(int round) => round + Base + 94;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int M95(int round) => round + Base + 95;

    // Never called: a target reads its IL while the plugin unloads.
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int Never(int round) => round + Base - 1;
}
