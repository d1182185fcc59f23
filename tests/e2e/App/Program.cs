using System.Runtime.CompilerServices;
using E2E.Lib;

namespace E2E.App;

// Runs one scenario, prints what it computes (the same text on every run) and exits with the code given
// as the second argument (0 when none); further arguments are the scenario's.
//   dotnet App.dll [scenario] [exit code] [scenario arguments]
public static class Program
{
    private static readonly Dictionary<string, Action<string[]>> Scenarios = new()
    {
        ["workload"] = _ => Workload.Run(),
        ["ilchain"] = IlChain.Run,
        ["ilmany"] = IlChain.RunMany,
        ["rejit"] = RejitSteps.Run,
        ["plugin"] = Plugins.Run,
        ["inliners"] = RejitInliners.Run,
        ["pinned"] = _ => Pinned.Run(),
    };

    public static int Main(string[] args)
    {
        string scenario = args.Length > 0 ? args[0] : "workload";
        int exitCode = args.Length > 1 ? int.Parse(args[1]) : 0;
        if (!Scenarios.TryGetValue(scenario, out Action<string[]>? run))
        {
            Console.Error.WriteLine($"unknown scenario '{scenario}', known: {string.Join(", ", Scenarios.Keys)}");
            return 2;
        }
        Console.WriteLine($"scenario {scenario}");
        run(args.Skip(2).ToArray());
        Console.WriteLine($"exit code {exitCode}");
        return exitCode;
    }
}

// What profilers watch: JIT compilation of known methods, an assembly loaded after start-up, several
// threads, an exception thrown and caught, allocations and forced garbage collections.
public static class Workload
{
    private const int ThreadCount = 4;

    public static void Run()
    {
        Console.WriteLine($"fibonacci(20) = {Fibonacci(20)}");
        Console.WriteLine($"library {LibraryName()}");
        Console.WriteLine($"threads total = {RunThreads()}");
        Console.WriteLine($"caught: {ThrowAndCatch()}");
        Console.WriteLine($"allocated {AllocateAndCollect()} arrays");
    }

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int Fibonacci(int n) => n < 2 ? n : Fibonacci(n - 1) + Fibonacci(n - 2);

    // The first use of a type of the library loads its assembly.
    [MethodImpl(MethodImplOptions.NoInlining)]
    public static string LibraryName() => typeof(Calculator).Assembly.GetName().Name ?? "?";

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static long RunThreads()
    {
        var results = new long[ThreadCount];
        var threads = new Thread[ThreadCount];
        for (int i = 0; i < ThreadCount; i++)
        {
            int index = i;
            threads[i] = new Thread(() => results[index] = SumOfProducts(index + 1)) { Name = $"worker {i}" };
            threads[i].Start();
        }
        foreach (Thread thread in threads)
        {
            thread.Join();
        }
        return results.Sum();
    }

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static long SumOfProducts(int factor)
    {
        long sum = 0;
        for (int i = 1; i <= 1000; i++)
        {
            sum += Calculator.Multiply(i, factor);
        }
        return sum;
    }

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static string ThrowAndCatch()
    {
        try
        {
            return Calculator.Checked(-7).ToString();
        }
        catch (InvalidOperationException e)
        {
            return e.Message;
        }
    }

    [MethodImpl(MethodImplOptions.NoInlining)]
    public static int AllocateAndCollect()
    {
        var kept = new List<byte[]>();
        for (int i = 0; i < 2000; i++)
        {
            byte[] array = new byte[1024];
            if (i % 10 == 0)
            {
                kept.Add(array);
            }
        }
        GC.Collect();
        GC.WaitForPendingFinalizers();
        GC.Collect();
        return kept.Count * 10;
    }
}

// Arrays on the pinned-object heap, kept until they are counted.
public static class Pinned
{
    public const int Count = 8;
    public const int Length = 1000;

    public static void Run()
    {
        var arrays = new List<byte[]>();
        for (int i = 0; i < Count; i++)
        {
            arrays.Add(GC.AllocateArray<byte>(Length, pinned: true));
        }
        Console.WriteLine($"pinned arrays = {arrays.Count} of {arrays.Sum(a => a.Length)} bytes");
    }
}
