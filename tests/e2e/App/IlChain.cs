using System.Diagnostics;
using System.Runtime.CompilerServices;

namespace E2E.App;

// Methods whose IL the targets rewrite at JIT compilation; the program prints what they return.
public static class IlChain
{
    private const int WarmUpMs = 1000;
    private const int ThreadCount = 4;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int Value() => 1;

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int Thrown(bool fail)
    {
        if (fail)
        {
            throw ThrowSite.Exception();
        }
        return 1;
    }

    // Calls the method often enough, and long enough, for tiered compilation to compile it again.
    public static void Run(string[] args)
    {
        Console.WriteLine($"value = {Value()}");
        var clock = Stopwatch.StartNew();
        while (clock.ElapsedMilliseconds < WarmUpMs)
        {
            for (int i = 0; i < 100; i++)
            {
                Value();
            }
            Thread.Sleep(10);
        }
        Console.WriteLine($"value after warm-up = {Value()}");
        Console.WriteLine($"thrown {ThrowSite.Check(() => Thrown(true))}");
    }

    // Several threads call every one of the many methods, each starting at another method, so that
    // their first compilations overlap.
    public static void RunMany(string[] args)
    {
        var results = new int[ThreadCount, ManyMethods.Count];
        using var start = new Barrier(ThreadCount);
        var threads = new Thread[ThreadCount];
        for (int t = 0; t < ThreadCount; t++)
        {
            int thread = t;
            threads[t] = new Thread(() =>
            {
                start.SignalAndWait();
                for (int j = 0; j < ManyMethods.Count; j++)
                {
                    int k = (j + thread * ManyMethods.Count / ThreadCount) % ManyMethods.Count;
                    results[thread, k] = ManyMethods.Call(k);
                }
            });
            threads[t].Start();
        }
        foreach (Thread thread in threads)
        {
            thread.Join();
        }
        for (int k = 0; k < ManyMethods.Count; k++)
        {
            var seen = Enumerable.Range(0, ThreadCount).Select(t => results[t, k]).Distinct();
            Console.WriteLine($"M{k:D3} = {string.Join(" ", seen)}");
        }
    }
}
