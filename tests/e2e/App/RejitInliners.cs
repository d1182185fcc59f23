using System.Diagnostics;
using System.Runtime.CompilerServices;

namespace E2E.App;

// A small method that another one inlines, for a ReJIT of the small one with its inliners: the program
// prints what the inliner returns before the marker method's first compilation (at which the target asks
// for the ReJIT), then polls the inliner until it returns the expected value (or until the poll times
// out) and prints what it returns.
public static class RejitInliners
{
    private const int PollIntervalMs = 20;
    private const int PollTimeoutMs = 10000;

    public static int Inlinee() => 1;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int Inliner() => Inlinee() + 100;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static void Step1() { }

    // args: the inliner's value expected after the ReJIT.
    public static void Run(string[] args)
    {
        // Called through a delegate, the inlinee is compiled on its own too: the target learns its id.
        Func<int> inlinee = Inlinee;
        Console.WriteLine($"inlinee = {inlinee()}");
        Console.WriteLine($"value = {Inliner()}");
        Step1();
        Console.WriteLine($"after step 1: value = {Poll(int.Parse(args[0]))}");
    }

    private static int Poll(int expected)
    {
        var clock = Stopwatch.StartNew();
        while (Inliner() != expected && clock.ElapsedMilliseconds < PollTimeoutMs)
        {
            Thread.Sleep(PollIntervalMs);
        }
        return Inliner();
    }
}
